// SPDX-License-Identifier: Apache-2.0
#pragma once
// The gateway's configuration file (TOML): the driver, one or more serial
// lines written as the commissioning host's station (channel and relays) in
// [[line]] entries, the Modbus TCP server, the MQTT broker and the log.

#include <map>
#include <string>
#include <vector>

#include "station_file.h"

namespace vorlan_gateway {

struct LineConfig {
    vorlan_host::Station station;      // the line's channel and relays, in the host's form
    int unitBase = 0;                  // Modbus unit id = unit_base + relay address
    int readIntervalMs = 0;            // 0: the values are read from the driver after every exchange
    std::vector<bool> allowControl;    // per relay, in the station's order
    // Per relay, in the station's order: a measurement's unit by its point (YC3 -> 3).
    std::vector<std::map<int, std::string>> units;
    int fileLine = 0;
};

struct ModbusConfig {
    bool enabled = true;
    std::string listen = "127.0.0.1";
    int port = 1502;
    bool wordsLittle = false;          // word_order = "little": low word first
    int maxClients = 64;
    int idleTimeoutS = 60;             // a client silent this long is closed
};

struct MqttConfig {
    bool enabled = false;              // only when [mqtt] names a host
    std::string host;
    int port = 1883;
    std::string clientId;
    std::string username, password;
    std::string caFile, certFile, keyFile;
    int keepaliveS = 30;
    int healthIntervalS = 10;
    int eventQueue = 1000;             // events kept while the broker is away
    std::string topicStation;          // the station's part of every topic
};

struct StatusConfig {
    bool enabled = false;              // only with a [status] section
    std::string host = "127.0.0.1";
    int port = 8080;
    int refreshS = 2;                  // the page reloads itself this often
};

struct OpcuaUser {
    std::string name;
    std::string passwordHash;          // crypt(3) SHA-512: "$6$salt$hash"
    bool mayOperate = false;
};

struct OpcuaConfig {
    bool enabled = false;              // only with an [opcua] section
    std::string listen = "127.0.0.1";
    int port = 4840;
    std::string applicationUri;        // "urn:vorlan:gateway:<name>" when not given
    std::vector<std::string> security{"None"};  // "None", "<policy>-Sign", "<policy>-SignAndEncrypt"
    std::string certificate, key;      // the server's own, made self-signed when absent
    std::vector<OpcuaUser> users;
    bool anonymous = false;            // sessions without a user (never allowed to operate)
    std::string trustedClients;        // directory of the client certificates trusted
    bool trustAllClients = false;      // commissioning: any client certificate
    int maxSessions = 32;
    int maxSubscriptions = 128;        // across all sessions
    int selectTimeoutS = 30;           // a Select is held this long for its Operate
};

struct GatewayConfig {
    std::string path;
    std::string name;                  // the station's name
    std::string progid = "Vorlan.RelayPro";
    std::string library;
    std::vector<LineConfig> lines;
    ModbusConfig modbus;
    MqttConfig mqtt;
    StatusConfig status;
    OpcuaConfig opcua;
    std::string auditFile;             // every control's audit line is appended here too
    int controlTimeoutMs = 10000;      // select, execute and the relay's confirmation
    int logLevel = 1;                  // 0 errors, 1 warnings and notices, 2 info, 3 debug
};

// "host:port" or "[v6]:port" into its parts; empty text on success.
std::string SplitHostPort(const std::string& text, std::string& host, int& port);

// Empty text on success, else "file: line N: what".
std::string LoadGatewayConfig(const std::string& path, GatewayConfig& config);
std::string LoadGatewayConfigText(const std::string& text, GatewayConfig& config);

// The station's name as it stands in a topic: '/', '+', '#', spaces and
// control characters become '_'.
std::string TopicSafe(const std::string& name);

}  // namespace vorlan_gateway
