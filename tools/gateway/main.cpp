// vorlan-gateway: the relays of one or more serial lines served over Modbus
// TCP and MQTT, through the driver's C interface like any host.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "gateway.h"
#include "gateway_config.h"
#include "log.h"
#include "register_map.h"

using namespace vorlan_gateway;

namespace {

const char kUsage[] =
    "usage: vorlan-gateway -c FILE [-v]... [--map]\n"
    "  -c, --config FILE   the gateway's configuration (TOML)\n"
    "  -v                  more log lines (info; twice: debug)\n"
    "  --map               print the Modbus register map of the configuration and stop\n"
    "Stops cleanly on SIGTERM or SIGINT.\n";

}  // namespace

int main(int argc, char** argv) {
    std::string path;
    bool map = false;
    int verbosity = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "-c" || a == "--config") && i + 1 < argc) path = argv[++i];
        else if (a == "--map") map = true;
        else if (a == "-v" || a == "--verbose") ++verbosity;
        else if (a == "-vv") verbosity += 2;
        else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "vorlan-gateway: unknown argument '%s'\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "vorlan-gateway: a configuration file is needed (-c)\n%s", kUsage);
        return 2;
    }
    GatewayConfig config;
    if (std::string e = LoadGatewayConfig(path, config); !e.empty()) {
        std::fprintf(stderr, "vorlan-gateway: %s\n", e.c_str());
        return 2;
    }
    if (map) {
        std::fputs(MapText(config).c_str(), stdout);
        return 0;
    }
    SetLogLevel(verbosity > 0 ? kWarning + verbosity : config.logLevel);

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
