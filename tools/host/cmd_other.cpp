// monitor and probe.

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "gbk_text.h"
#include "monitor_listener.h"
#include "output.h"

namespace vorlan_host {

int RunMonitor(const CommonOptions& common, const MonitorOptions& o) {
    MonitorListener listener;
    const std::string name = o.name.empty() ? MonitorListener::DefaultName() : o.name;
    if (std::string e = listener.Bind(name); !e.empty()) return Fail({kExitFailed, e});
    InstallStopHandler();
    std::fprintf(stderr,
                 "vorlan-host: monitor listening on '%s'; the driver traces a relay's traffic only after Show = 1 "
                 "is written for it (poll --trace does that)\n",
                 name.c_str());
    const auto start = std::chrono::steady_clock::now();
    long lines = 0;
    std::string line;
    while (!StopRequested()) {
        if (o.count > 0 && lines >= o.count) break;
        if (o.seconds > 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= o.seconds) {
            break;
        }
        if (!listener.Receive(line, 100)) continue;
        ++lines;
        if (common.json) {
            EmitJson("trace", {{"text", line}});
        } else {
            std::printf("%s %s\n", ClockText().c_str(), line.c_str());
        }
        if (OutputGone()) return kExitPipeClosed;
    }
    return kExitOk;
}

int RunProbe(const CommonOptions& common, const ProbeOptions& o) {
    Setup setup;
    if (Status s = OpenSetup(common, false, true, setup); !s.ok()) return Fail(s);
    HostSession& session = *setup.session;
    std::vector<size_t> relays;
    if (o.addresses.empty()) {
        for (size_t i = 0; i < session.relayCount(); ++i) relays.push_back(i);
    } else {
        for (int a : o.addresses) {
            size_t r = 0;
            if (Status s = PickRelay(session, a, r); !s.ok()) return Fail(s);
            relays.push_back(r);
        }
    }
    size_t answering = 0;
    for (size_t r : relays) {
        const RelaySpec& relayDef = session.station().relays[r];
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = session.Probe(r);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        if (ok) ++answering;
        if (common.json) {
            EmitJson("probe", {{"relay", relayDef.address}, {"name", relayDef.name}, {"answers", ok},
                               {"ms", static_cast<int>(ms)}});
        } else {
            std::printf("relay %d (%s): %s (%.0f ms)\n", relayDef.address, relayDef.name.c_str(),
                        ok ? "answers" : "no valid answer", ms);
        }
    }
    if (!common.json) std::printf("%zu of %zu relays answer\n", answering, relays.size());
    if (answering == 0) return Fail({kExitFailed, NoAnswerHint(session.station().channel)});
    return answering == relays.size() ? kExitOk : kExitFailed;
}

}  // namespace vorlan_host
