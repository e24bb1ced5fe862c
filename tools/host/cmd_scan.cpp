// scan: probes a range of addresses on the station's channel and lists the
// relays that answer. The driver probes only relays registered with it, so
// the addresses are registered in components of their own, 32 at a time,
// each opening the channel in turn.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "output.h"
#include "progress_bar.h"

namespace vorlan_host {

namespace {

constexpr int kLowestAddress = 0;    // the driver registers addresses 0..32
constexpr int kHighestAddress = 32;
constexpr size_t kPerComponent = 32;

std::string ListText(const std::vector<int>& addresses) {
    std::string text;
    for (int a : addresses) text += (text.empty() ? "" : ", ") + std::to_string(a);
    return text.empty() ? "none" : text;
}

}  // namespace

int RunScan(const CommonOptions& common, const ScanOptions& o) {
    if (o.from > o.to || o.from < 0 || o.to > 255) {
        return Fail({kExitUsage, "scan needs 0 <= --from <= --to <= 255"});
    }
    Setup setup;
    if (Status s = OpenSetup(common, false, false, setup); !s.ok()) return Fail(s);
    const Station base = setup.session->station();
    setup.session.reset();
    InstallStopHandler();

    std::vector<int> addresses;
    for (int a = std::max(o.from, kLowestAddress); a <= std::min(o.to, kHighestAddress); ++a) addresses.push_back(a);
    if (o.to > kHighestAddress) {
        std::fprintf(stderr, "vorlan-host: addresses %d-%d are not probed: the driver takes relays at 0-%d only\n",
                     std::max(o.from, kHighestAddress + 1), o.to, kHighestAddress);
    }
    std::fprintf(stderr, "scanning %zu addresses on %s\n", addresses.size(), base.channel.port.c_str());

    ProgressBar bar("scan", "addresses");
    std::vector<int> found;
    size_t probed = 0;
    for (size_t first = 0; first < addresses.size(); first += kPerComponent) {
        Station batch = base;
        batch.relays.clear();
        for (size_t i = first; i < addresses.size() && i < first + kPerComponent; ++i) {
            RelaySpec relay;
            relay.address = addresses[i];
            relay.name = "relay " + std::to_string(addresses[i]);
            batch.relays.push_back(relay);
        }
        HostSession session(*setup.library, batch);
        if (Status s = session.Start(false); !s.ok()) return Fail(s);
        if (Status s = session.OpenChannel(); !s.ok()) return Fail(s);
        for (size_t r = 0; r < session.relayCount(); ++r) {
            if (StopRequested()) return Fail({kExitInterrupted, "interrupted"});
            const int address = batch.relays[r].address;
            const auto t0 = std::chrono::steady_clock::now();
            const bool answers = session.Probe(r);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            ++probed;
            bar.Update(static_cast<long>(probed), static_cast<long>(addresses.size()));
            if (!answers) continue;
            found.push_back(address);
            if (common.json) {
                EmitJson("found", {{"address", address}, {"ms", static_cast<int>(ms)}});
            } else {
                std::printf("relay %d answers (%.0f ms)\n", address, ms);
                std::fflush(stdout);
            }
        }
    }
    bar.Finish();
    if (common.json) {
        EmitJson("scan", {{"from", o.from}, {"to", o.to}, {"probed", probed}, {"found", found}});
    } else {
        std::printf("%zu of %zu addresses answer: %s\n", found.size(), probed, ListText(found).c_str());
    }
    return found.empty() ? Fail({kExitFailed, NoAnswerHint(base.channel)}) : kExitOk;
}

}  // namespace vorlan_host
