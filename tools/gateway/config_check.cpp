// SPDX-License-Identifier: Apache-2.0
#include "config_check.h"

#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "driver_library.h"
#include "host_session.h"
#include "listen_address.h"
#include "opcua_access.h"

namespace vorlan_gateway {

namespace {

void CheckDriver(const GatewayConfig& config, std::vector<std::string>& problems) {
    std::string path = config.library;
    if (path.empty()) {
        if (std::string e = vorlan_host::DriverLibrary::LookUp(config.progid, path); !e.empty()) {
            problems.push_back("driver: " + e);
            return;
        }
    }
    vorlan_host::DriverLibrary library;
    if (std::string e = library.Load(path); !e.empty()) {
        problems.push_back("driver: " + e);
        return;
    }
    // The component checks every item as it would at start; no port is opened.
    for (const LineConfig& line : config.lines) {
        vorlan_host::HostSession session(library, line.station);
        session.onLineEvent = [](const std::string&) {};
        const vorlan_host::Status s = session.Start(true);
        if (!s.ok()) problems.push_back("line " + line.station.channel.port + ": " + s.message);
    }
}

void CheckPem(const std::string& key, const std::string& path, std::vector<std::string>& problems) {
    if (path.empty()) return;
    std::ifstream in(path);
    if (!in) {
        problems.push_back("[mqtt] " + key + " " + path + " can't be read");
        return;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.find("-----BEGIN ") == std::string::npos) {
        problems.push_back("[mqtt] " + key + " " + path + " holds no PEM block");
    }
}

void CheckFileLimit(const GatewayConfig& config, std::vector<std::string>& problems) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    unsigned long target = 0;
    const unsigned long hard = limit.rlim_max == RLIM_INFINITY ? ~0ul : limit.rlim_max;
    if (std::string e = PlanFileLimit(config, limit.rlim_cur, hard, target); !e.empty()) problems.push_back(e);
}

}  // namespace

unsigned long FilesNeeded(const GatewayConfig& config) {
    return static_cast<unsigned long>(config.modbus.maxClients) + 8 * config.lines.size() + 128;
}

std::string PlanFileLimit(const GatewayConfig& config, unsigned long current, unsigned long hardMax,
                          unsigned long& target) {
    const unsigned long need = FilesNeeded(config);
    const std::string needs = "max_clients = " + std::to_string(config.modbus.maxClients) + " with " +
                              std::to_string(config.lines.size()) + " line(s) needs " + std::to_string(need) +
                              " open files";
    target = current < need ? need : current;
    if (config.mqtt.enabled) {
        if (need > FD_SETSIZE) {
            return needs + ", and with MQTT on no more than " + std::to_string(FD_SETSIZE) +
                   " can be used; lower max_clients by " + std::to_string(need - FD_SETSIZE);
        }
        target = FD_SETSIZE;
    }
    if (target > hardMax) {
        if (hardMax >= need) target = hardMax;
        else return needs + ", and the limit here is " + std::to_string(hardMax) + "; raise it (LimitNOFILE)";
    }
    return {};
}

std::vector<std::string> CheckConfiguration(const GatewayConfig& config) {
    std::vector<std::string> problems;
    CheckDriver(config, problems);
    std::vector<ResolvedAddress> addresses;
    if (config.modbus.enabled) {
        if (std::string e = ResolveListen(config.modbus.listen, config.modbus.port, addresses); !e.empty()) {
            problems.push_back("[modbus] " + e);
        }
    }
    if (config.status.enabled) {
        if (std::string e = ResolveListen(config.status.host, config.status.port, addresses); !e.empty()) {
            problems.push_back("[status] " + e);
        }
    }
    if (config.mqtt.enabled) {
        CheckPem("ca_file", config.mqtt.caFile, problems);
        CheckPem("cert_file", config.mqtt.certFile, problems);
        CheckPem("key_file", config.mqtt.keyFile, problems);
    }
    if (!config.auditFile.empty()) {
        const size_t slash = config.auditFile.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : config.auditFile.substr(0, slash);
        if (access(config.auditFile.c_str(), W_OK) != 0 && access(dir.c_str(), W_OK) != 0) {
            problems.push_back("[gateway] audit_file " + config.auditFile + " can't be written");
        }
    }
    CheckOpcuaAccess(config.opcua, problems);
    CheckFileLimit(config, problems);
    return problems;
}

}  // namespace vorlan_gateway
