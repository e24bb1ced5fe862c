// SPDX-License-Identifier: Apache-2.0
// An answered exchange on a pseudo-terminal against the simulator: wall time
// beyond the protocol's own pauses (150 ms before reading, 250 ms after a
// complete answer), and the driver's CPU time per exchange. A bare loop that
// sleeps the same pauses with the same clock is measured beside it.

#include <cstdio>
#include <vector>

#include "bench_support.h"
#include "simulator.h"

namespace {

constexpr int kExchanges = 50;
constexpr double kProtocolMinimumMs = 150 + 250;

}  // namespace

int main() {
    using namespace vorlan_bench;
    vorlan_sim::SimConfig config;
    config.seed = 7;
    for (uint8_t a = 1; a <= 3; ++a) config.relays.push_back(vorlan_sim::DefaultRelay(a, a - 1u));
    vorlan_sim::Simulator sim(config);
    const std::string error = sim.Open();
    if (!error.empty()) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    sim.Start();
    auto driver = OpenDriver(sim.path(), {1, 2, 3});
    if (!driver) {
        std::fprintf(stderr, "cannot open %s\n", sim.path().c_str());
        return 1;
    }

    // The bare sleeps alternate with the exchanges, so both meet the same load.
    vorlan::RealClock clock;
    std::vector<double> beyond, cpu, bare;
    SendPacket send;
    int failed = 0;
    driver->ProcessPacket(&send.packet, 0);  // first call connects the setting database
    while (static_cast<int>(beyond.size()) < kExchanges && failed < kExchanges) {
        const double wall0 = MonotonicMs(), cpu0 = ThreadCpuMs();
        const int32_t ok = driver->ProcessPacket(&send.packet, 0);
        const double wall = MonotonicMs() - wall0, used = ThreadCpuMs() - cpu0;
        // Only answered exchanges count: a broadcast has no answer to wait for.
        if (ok == 1 && wall >= kProtocolMinimumMs) {
            beyond.push_back(wall - kProtocolMinimumMs);
            cpu.push_back(used);
            const double t0 = MonotonicMs();
            clock.SleepMs(150);
            clock.SleepMs(250);
            bare.push_back(MonotonicMs() - t0 - kProtocolMinimumMs);
        } else if (ok != 1) {
            ++failed;
        }
    }
    sim.Stop();

    const double medianBeyond = Median(beyond), medianCpu = Median(cpu), medianBare = Median(bare);
    std::printf("Answered exchange on a pseudo-terminal, %zu exchanges (%d failed):\n", beyond.size(), failed);
    std::printf("  wall time beyond 400 ms, median  %7.3f ms   target <= 1 ms     %s\n", medianBeyond,
                Verdict(medianBeyond <= 1.0));
    std::printf("  bare sleeps of 150 + 250 ms      %7.3f ms   (the sleeps' own overshoot; driver adds %.3f ms)\n",
                medianBare, medianBeyond - medianBare);
    std::printf("  driver CPU per exchange, median  %7.3f ms   target <= 0.3 ms   %s\n", medianCpu,
                Verdict(medianCpu <= 0.3));
    return 0;
}
