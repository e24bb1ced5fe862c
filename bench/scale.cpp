// SPDX-License-Identifier: Apache-2.0
// Scale: 32 components in one process, each on its own pseudo-terminal with
// a simulator of 32 relays, each polled by its own host thread. The aggregate
// exchange rate is set beside 32 times the rate of one component polled
// alone, and the resident memory the components add is divided among them.
//
//   bench_scale [seconds per run, default 20]

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "simulator.h"

namespace {

constexpr int kComponents = 32;
constexpr int kRelays = 32;

std::unique_ptr<vorlan_sim::Simulator> StartSimulator(uint64_t seed) {
    vorlan_sim::SimConfig config;
    config.seed = seed;
    for (int a = 1; a <= kRelays; ++a) {
        config.relays.push_back(vorlan_sim::DefaultRelay(static_cast<uint8_t>(a), static_cast<size_t>(a - 1)));
    }
    auto sim = std::make_unique<vorlan_sim::Simulator>(config);
    if (!sim->Open().empty()) return nullptr;
    sim->Start();
    return sim;
}

std::vector<uint8_t> Addresses() {
    std::vector<uint8_t> a;
    for (int i = 1; i <= kRelays; ++i) a.push_back(static_cast<uint8_t>(i));
    return a;
}

// Polls `driver` until `stop`; counts the answered exchanges.
void Poll(vorlan::CRelayDriver& driver, const std::atomic<bool>& stop, std::atomic<long>& answered) {
    vorlan_bench::SendPacket send;
    while (!stop.load()) answered += driver.ProcessPacket(&send.packet, 0);
}

double RunFor(std::vector<vorlan::CRelayDriver*> drivers, double seconds) {
    std::atomic<bool> stop{false};
    std::atomic<long> answered{0};
    std::vector<std::thread> threads;
    const double t0 = vorlan_bench::MonotonicMs();
    for (vorlan::CRelayDriver* d : drivers) threads.emplace_back(Poll, std::ref(*d), std::cref(stop), std::ref(answered));
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
    stop = true;
    for (std::thread& t : threads) t.join();
    return static_cast<double>(answered.load()) / ((vorlan_bench::MonotonicMs() - t0) / 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vorlan_bench;
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;

    std::vector<std::unique_ptr<vorlan_sim::Simulator>> sims;
    for (int i = 0; i < kComponents; ++i) {
        sims.push_back(StartSimulator(100 + static_cast<uint64_t>(i)));
        if (!sims.back()) {
            std::fprintf(stderr, "simulator %d did not start\n", i);
            return 1;
        }
    }
    const long before = ResidentKiB();
    std::vector<std::unique_ptr<vorlan::CRelayDriver>> drivers;
    for (int i = 0; i < kComponents; ++i) {
        drivers.push_back(OpenDriver(sims[static_cast<size_t>(i)]->path(), Addresses()));
        if (!drivers.back()) {
            std::fprintf(stderr, "component %d could not open its line\n", i);
            return 1;
        }
    }

    const double one = RunFor({drivers[0].get()}, seconds);
    std::vector<vorlan::CRelayDriver*> all;
    for (auto& d : drivers) all.push_back(d.get());
    const double aggregate = RunFor(all, seconds);
    const long after = ResidentKiB();
    for (auto& sim : sims) sim->Stop();

    const double wanted = 0.9 * kComponents * one;
    const double perComponentKiB = static_cast<double>(after - before) / kComponents;
    std::printf("Scale: %d components, %d relays each, %d host threads, %.0f s per run:\n", kComponents,
                kRelays, kComponents, seconds);
    std::printf("  one component alone          %8.2f exchanges/s\n", one);
    std::printf("  all components together      %8.2f exchanges/s   target >= %.2f (0.9 x 32 x one)   ratio %.3f   %s\n",
                aggregate, wanted, aggregate / (kComponents * one), Verdict(aggregate >= wanted));
    std::printf("  resident memory per component %7.1f KiB          target <= 300 KiB                    %s\n",
                perComponentKiB, Verdict(perComponentKiB <= 300));
    return 0;
}
