#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <cstdio>
#include <ctime>

#include "commands.h"

namespace vorlan_host {

namespace {

std::atomic<bool> g_stop{false};
void OnStop(int) { g_stop = true; }

}  // namespace

bool StopRequested() { return g_stop.load(); }

void InstallStopHandler() {
    struct sigaction a {};
    a.sa_handler = OnStop;
    sigemptyset(&a.sa_mask);
    sigaction(SIGINT, &a, nullptr);
    sigaction(SIGTERM, &a, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

std::string ClockText() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    localtime_r(&tv.tv_sec, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));
    return text;
}

std::string FileTimeText(int64_t ft) {
    if (ft <= 0) return "-";
    constexpr int64_t kUnixEpoch = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601
    const int64_t unix100ns = ft - kUnixEpoch;
    const time_t seconds = static_cast<time_t>(unix100ns / 10000000);
    const int ms = static_cast<int>((unix100ns / 10000) % 1000);
    tm local{};
    localtime_r(&seconds, &local);
    // With its offset: relay times and the machine's clock may be in different zones.
    const long offset = local.tm_gmtoff / 60;
    const long absOffset = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d %c%02ld:%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ms < 0 ? 0 : ms,
                  offset < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
    return text;
}

int Fail(const Status& status) {
    // Whatever stopped short after Ctrl-C stopped because of it, not for its own reason.
    if (status.code != kExitOk && status.code != kExitUsage && StopRequested()) {
        std::fprintf(stderr, "vorlan-host: interrupted (Ctrl-C); stopped before the end\n");
        return kExitInterrupted;
    }
    if (!status.message.empty()) std::fprintf(stderr, "vorlan-host: %s\n", status.message.c_str());
    return status.code == kExitOk ? kExitFailed : status.code;
}

Status OpenSetup(const CommonOptions& options, bool checkItems, bool openChannel, Setup& setup) {
    if (options.station.empty()) return {kExitUsage, "a station file is needed (--station)"};
    Station station;
    if (std::string e = LoadStation(options.station, station); !e.empty()) return {kExitUsage, e};
    for (const std::string& w : station.warnings) std::fprintf(stderr, "vorlan-host: warning: %s\n", w.c_str());
    setup.library = std::make_unique<DriverLibrary>();
    std::string path = options.library.empty() ? station.library : options.library;
    if (options.registerFirst) {
        if (path.empty()) return {kExitUsage, "--register needs the library's path (--library)"};
        if (std::string e = setup.library->Load(path); !e.empty()) return {kExitLibrary, e};
        if (std::string e = setup.library->Register(); !e.empty()) return {kExitLibrary, e};
        // From here on the driver is found as any host finds it: by its name.
        std::string registered;
        if (std::string e = DriverLibrary::LookUp(station.progid, registered); !e.empty()) return {kExitLibrary, e};
        if (registered != path) {
            setup.library = std::make_unique<DriverLibrary>();
            if (std::string e = setup.library->Load(registered); !e.empty()) return {kExitLibrary, e};
        }
    } else {
        if (path.empty()) {
            if (std::string e = DriverLibrary::LookUp(station.progid, path); !e.empty()) return {kExitLibrary, e};
        }
        if (std::string e = setup.library->Load(path); !e.empty()) return {kExitLibrary, e};
    }
    setup.session = std::make_unique<HostSession>(*setup.library, station);
    if (Status s = setup.session->Start(checkItems); !s.ok()) return s;
    if (openChannel) {
        if (Status s = setup.session->OpenChannel(); !s.ok()) return s;
    }
    return Status::Ok();
}

Status PickRelay(HostSession& session, int address, size_t& relay) {
    if (address < 0) {
        if (session.relayCount() == 1) {
            relay = 0;
            return Status::Ok();
        }
        return {kExitUsage, "say which relay (--relay ADDRESS)"};
    }
    const int i = session.RelayByAddress(address);
    if (i < 0) return {kExitUsage, "the station file has no relay at address " + std::to_string(address)};
    relay = static_cast<size_t>(i);
    return Status::Ok();
}

Status OpenRelaySetup(const CommonOptions& options, int address, Setup& setup, size_t& relay) {
    if (Status s = OpenSetup(options, false, true, setup); !s.ok()) return s;
    if (Status s = PickRelay(*setup.session, address, relay); !s.ok()) return s;
    InstallStopHandler();
    return Status::Ok();
}

}  // namespace vorlan_host
