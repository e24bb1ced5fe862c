// What silent relays cost a fast-profile line: the paced simulator at 9600
// baud with a 20 ms turnaround on a pseudo-terminal, (a) 3 relays with 1
// switched off, (b) 32 relays with 4 switched off. For each: answered
// exchanges per second with every relay answering, the same for the live
// relays once the back-off has settled, the line's physical limit, the
// driver's CPU time per answered exchange, and the longest time until a relay
// switched on again is answered.
//
//   bench_silent_relays [measure-seconds]   (default 12, from 15 s after the
//   last silent relay's back-off started)

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "simulator.h"

namespace {

constexpr int kBaud = 9600;
constexpr int kTurnaroundMs = 20;
constexpr double kCharMs = 10.0 * 1000.0 / kBaud;
constexpr double kGuardChars = 3.5;
constexpr double kSettleMs = 15'000;    // from the back-off's start to its longest interval
constexpr uint32_t kRetryMaxMs = 10'000;
// A general poll (5 bytes) and its mean answer (about 30 bytes, as
// bench_line_rate counts them) on the wire.
constexpr double kMeanWireChars = 35;

struct Figures {
    double rate = 0;       // answered exchanges/s
    double settledRate = 0;  // the same in a second window, every retry at the longest interval
    double cpuMs = 0;      // driver CPU per answered exchange
    double returnMs = 0;   // longest time until a relay switched on is answered
};

uint64_t Answers(vorlan::CRelayDriver& driver, size_t count, const std::vector<bool>& skip) {
    uint64_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        VorlanRelayStats s{};
        if (!skip[i] && driver.LinkStats().Read(static_cast<int32_t>(i), s)) n += s.answersTaken;
    }
    return n;
}

// Sends for `ms` milliseconds; returns the number of Send calls.
void SendFor(vorlan::CRelayDriver& driver, vorlan_bench::SendPacket& send, double ms) {
    const double end = vorlan_bench::MonotonicMs() + ms;
    while (vorlan_bench::MonotonicMs() < end) driver.ProcessPacket(&send.packet, 0);
}

// One line: `relays` relays, those at `silent` positions switched off for
// the run (none: the all-answering reference).
Figures Run(vorlan_sim::Simulator& sim, size_t relays, const std::vector<size_t>& silent, double measureS) {
    Figures f;
    std::vector<uint8_t> addresses;
    for (size_t i = 0; i < relays; ++i) addresses.push_back(static_cast<uint8_t>(i + 1));
    auto driver = vorlan_bench::OpenDriver(sim.path(), addresses);
    if (!driver) return f;
    std::vector<bool> off(relays, false);
    for (size_t i : silent) {
        off[i] = true;
        sim.relays().relay(i).SwitchOff(true);
    }
    vorlan_bench::SendPacket send(0);
    if (silent.empty()) {
        SendFor(*driver, send, 2000);
    } else {
        // Each silent relay needs three failed turns of the rotation before its
        // back-off starts; the schedule reaches its longest interval 15 s later.
        auto allBackedOff = [&] {
            for (size_t i : silent) {
                VorlanRelayStats s{};
                if (!driver->LinkStats().Read(static_cast<int32_t>(i), s) || s.inBackoff == 0) return false;
            }
            return true;
        };
        const double giveUp = vorlan_bench::MonotonicMs() + 60'000;
        while (!allBackedOff() && vorlan_bench::MonotonicMs() < giveUp) driver->ProcessPacket(&send.packet, 0);
        SendFor(*driver, send, kSettleMs);
    }

    const uint64_t a0 = Answers(*driver, relays, off);
    const double wall0 = vorlan_bench::MonotonicMs(), cpu0 = vorlan_bench::ThreadCpuMs();
    SendFor(*driver, send, measureS * 1000);
    const double wall = vorlan_bench::MonotonicMs() - wall0, cpu = vorlan_bench::ThreadCpuMs() - cpu0;
    const uint64_t answered = Answers(*driver, relays, off) - a0;
    if (answered > 0) {
        f.rate = static_cast<double>(answered) * 1000.0 / wall;
        f.cpuMs = cpu / static_cast<double>(answered);
    }
    if (!silent.empty()) {
        const uint64_t b0 = Answers(*driver, relays, off);
        const double start = vorlan_bench::MonotonicMs();
        SendFor(*driver, send, measureS * 1000);
        f.settledRate = static_cast<double>(Answers(*driver, relays, off) - b0) * 1000.0 /
                        (vorlan_bench::MonotonicMs() - start);
    }

    if (!silent.empty()) {
        // The worst case: the relays come back just after the first of them
        // was retried in vain.
        const size_t first = silent.front();
        for (int i = 0; i < 100'000; ++i) {
            VorlanRelayStats s{};
            driver->LinkStats().Read(static_cast<int32_t>(first), s, driver->GetClock().TickMs());
            if (s.inBackoff != 0 && s.nextRetryInMs + 200 >= s.retryIntervalMs) break;
            driver->ProcessPacket(&send.packet, 0);
        }
        std::vector<uint32_t> before(relays, 0);
        for (size_t i : silent) {
            VorlanRelayStats s{};
            driver->LinkStats().Read(static_cast<int32_t>(i), s);
            before[i] = s.answersTaken;
            sim.relays().relay(i).SwitchOff(false);
        }
        const double on = vorlan_bench::MonotonicMs();
        std::vector<bool> back(relays, false);
        size_t waiting = silent.size();
        while (waiting > 0 && vorlan_bench::MonotonicMs() - on < 3.0 * kRetryMaxMs) {
            driver->ProcessPacket(&send.packet, 0);
            for (size_t i : silent) {
                VorlanRelayStats s{};
                driver->LinkStats().Read(static_cast<int32_t>(i), s);
                if (!back[i] && s.answersTaken != before[i]) {
                    back[i] = true;
                    --waiting;
                    f.returnMs = std::max(f.returnMs, vorlan_bench::MonotonicMs() - on);
                }
            }
        }
        if (waiting > 0) f.returnMs = -1;
    }
    driver->CloseChannelLocked();
    return f;
}

void Report(const char* name, size_t relays, const std::vector<size_t>& silent, double measureS) {
    vorlan_sim::SimConfig config;
    config.seed = 7;
    config.line.paceBaud = kBaud;
    config.faults.delayMs = kTurnaroundMs;
    for (size_t i = 0; i < relays; ++i) {
        config.relays.push_back(vorlan_sim::DefaultRelay(static_cast<uint8_t>(i + 1), i));
    }
    vorlan_sim::Simulator sim(config);
    const std::string error = sim.Open();
    if (!error.empty()) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return;
    }
    sim.Start();
    const Figures all = Run(sim, relays, {}, measureS);
    const Figures some = Run(sim, relays, silent, measureS);
    sim.Stop();

    const double limit = 1000.0 / ((kMeanWireChars + kGuardChars) * kCharMs + kTurnaroundMs);
    const double ratio = all.rate > 0 ? some.rate / all.rate : 0;
    const double cpu = all.cpuMs > 0 ? some.cpuMs / all.cpuMs : 0;
    std::printf("%s: %zu relays, %zu switched off, %d baud, %d ms turnaround, fast profile\n", name, relays,
                silent.size(), kBaud, kTurnaroundMs);
    std::printf("  all answering        %6.2f exchanges/s   CPU %.3f ms/exchange\n", all.rate, all.cpuMs);
    std::printf("  live, with silent    %6.2f exchanges/s   CPU %.3f ms/exchange (from 15 s after the back-off began)\n",
                some.rate, some.cpuMs);
    std::printf("  live, settled        %6.2f exchanges/s   (the %.0f s after that)\n", some.settledRate, measureS);
    std::printf("  physical limit       %6.2f exchanges/s   (poll and a 30-byte answer + %d ms + 3.5 characters)\n",
                limit, kTurnaroundMs);
    std::printf("  live / all answering       %5.2fx   target >= 0.9x    %s\n", ratio,
                vorlan_bench::Verdict(ratio >= 0.9));
    std::printf("  longest return             %5.0f ms  target <= %u ms + one exchange   %s\n", some.returnMs,
                kRetryMaxMs, vorlan_bench::Verdict(some.returnMs >= 0 && some.returnMs <= kRetryMaxMs + 500));
    std::printf("  CPU per exchange, silent / all  %5.2fx   target <= 1.1x   %s\n", cpu,
                vorlan_bench::Verdict(cpu > 0 && cpu <= 1.1));
}

}  // namespace

int main(int argc, char** argv) {
    const double measureS = argc > 1 ? std::atof(argv[1]) : 12;
    char dir[] = "/tmp/vorlan-silent-relays-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    const std::string linesFile = std::string(dir) + "/lines.ini";
    {
        std::ofstream file(linesFile);
        file << "[default]\ntiming = fast\n";  // the back-off is on by default with it
    }
    setenv("VORLAN_LINES", linesFile.c_str(), 1);
    Report("(a)", 3, {2}, measureS);
    Report("(b)", 32, {4, 12, 20, 28}, measureS);
    unlink(linesFile.c_str());
    rmdir(dir);
    return 0;
}
