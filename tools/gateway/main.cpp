// SPDX-License-Identifier: Apache-2.0
// vorlan-gateway: the relays of one or more serial lines served over Modbus
// TCP and MQTT, through the driver's C interface like any host.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "config_check.h"
#include "gateway.h"
#include "gateway_config.h"
#include "log.h"
#include "opcua_server.h"
#include "register_map.h"

#ifndef VORLAN_VERSION
#define VORLAN_VERSION "unknown"
#endif

using namespace vorlan_gateway;

namespace {

const char kUsage[] =
    "usage: vorlan-gateway -c FILE [-v]... [--check | --map]\n"
    "  -c, --config FILE   the gateway's configuration (TOML)\n"
    "  -v                  more log lines (info; twice: debug)\n"
    "  --check             check the configuration (driver, items, addresses, TLS files) and stop;\n"
    "                      no port is opened\n"
    "  --map               the same checks, then print the Modbus register map (and the OPC UA\n"
    "                      node ids) and stop\n"
    "  --version           print the version and stop\n"
    "Stops cleanly on SIGTERM or SIGINT.\n";

struct Options {
    std::string path;
    bool map = false;
    bool check = false;
    int verbosity = 0;
};

// -1 to go on; else the exit code.
int ReadOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "-c" || a == "--config") && i + 1 < argc) o.path = argv[++i];
        else if (a == "--map") o.map = true;
        else if (a == "--check") o.check = true;
        else if (a == "-v" || a == "--verbose") ++o.verbosity;
        else if (a == "-vv") o.verbosity += 2;
        else if (a == "--version") {
            std::printf("vorlan-gateway %s\n", VORLAN_VERSION);
            return 0;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "vorlan-gateway: unknown argument '%s'\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (o.path.empty()) {
        std::fprintf(stderr, "vorlan-gateway: a configuration file is needed (-c)\n%s", kUsage);
        return 2;
    }
    return -1;
}

int Check(const GatewayConfig& config, bool map) {
    std::vector<std::string> problems = CheckConfiguration(config);
    if (config.opcua.enabled && !OpcuaBuilt()) {
        problems.push_back("[opcua]: this vorlan-gateway was built without OPC UA");
    }
    for (const std::string& p : problems) std::fprintf(stderr, "vorlan-gateway: %s: %s\n", config.path.c_str(), p.c_str());
    if (!problems.empty()) return 1;
    if (map) {
        std::fputs(MapText(config).c_str(), stdout);
        if (config.opcua.enabled) std::fputs(("\n" + OpcuaMapText(config)).c_str(), stdout);
    }
    else std::printf("%s: the configuration is usable\n", config.path.c_str());
    return 0;
}

int Run(const GatewayConfig& config) {
    // Every thread inherits the blocked signals; only the wait below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Gateway gateway(config);
    if (std::string e = gateway.Start(); !e.empty()) {
        Log(kError, e);
        gateway.Stop();
        return 1;
    }
    time_t nextHealth = time(nullptr) + gateway.healthIntervalS();
    for (;;) {
        timespec wait{1, 0};
        const int s = sigtimedwait(&stopSignals, nullptr, &wait);
        if (s == SIGTERM || s == SIGINT) {
            Log(kInfo, std::string("stopping on ") + (s == SIGTERM ? "SIGTERM" : "SIGINT"));
            break;
        }
        if (time(nullptr) >= nextHealth) {
            gateway.PublishHealth();
            nextHealth = time(nullptr) + gateway.healthIntervalS();
        }
    }
    gateway.Stop();
    Log(kInfo, "stopped");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int code = ReadOptions(argc, argv, options); code >= 0) return code;
    GatewayConfig config;
    if (std::string e = LoadGatewayConfig(options.path, config); !e.empty()) {
        std::fprintf(stderr, "vorlan-gateway: %s\n", e.c_str());
        return 2;
    }
    if (options.check || options.map) return Check(config, options.map);
    SetLogLevel(options.verbosity > 0 ? kWarning + options.verbosity : config.logLevel);
    return Run(config);
}
