// SPDX-License-Identifier: Apache-2.0
// How much of a 9600-baud line the two timing profiles use: three relays
// with a 20 ms turnaround behind the simulator, which paces its answers at
// the wire rate, on a pseudo-terminal. For each profile: answered exchanges
// per second, the line's physical limit for the same frames (wire time of
// request and answer, turnaround, guard of 3.5 characters) and the driver's
// CPU time per exchange.
//
//   bench_line_rate [standard-seconds] [fast-seconds]

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "bench_support.h"
#include "simulator.h"

namespace {

constexpr int kBaud = 9600;
constexpr int kTurnaroundMs = 20;
constexpr double kCharMs = 10.0 * 1000.0 / kBaud;
constexpr double kGuardChars = 3.5;

// Counts the bytes of the traced frames: "T=>01 83 ..." starts a request,
// "R=>..." an answer, lines led by three blanks continue the last one.
class ByteCounter final : public vorlan::MonitorSink {
public:
    void SendLine(const char* text, size_t size) override {
        size_t from = 0;
        if (size >= 3 && std::strncmp(text, "T=>", 3) == 0) {
            sending_ = true;
            from = 3;
        } else if (size >= 3 && std::strncmp(text, "R=>", 3) == 0) {
            sending_ = false;
            answers += 1;
            from = 3;
        }
        size_t digits = 0;
        for (size_t i = from; i < size; ++i) digits += text[i] != ' ';
        (sending_ ? requestBytes : answerBytes) += digits / 2;
    }
    uint64_t requestBytes = 0, answerBytes = 0, answers = 0;

private:
    bool sending_ = true;
};

struct ProfileFigures {
    double exchangesPerSecond = 0;
    double limitPerSecond = 0;
    double cpuMsPerExchange = 0;
    uint64_t answered = 0;
    int failed = 0;
};

bool WriteLines(const std::string& path, const char* timing) {
    std::ofstream file(path);
    file << "[default]\ntiming = " << timing << "\n";
    return static_cast<bool>(file);
}

ProfileFigures Run(const std::string& port, const std::string& linesFile, const char* timing, double seconds) {
    ProfileFigures figures;
    if (!WriteLines(linesFile, timing)) return figures;
    setenv("VORLAN_LINES", linesFile.c_str(), 1);
    auto counter = std::make_unique<ByteCounter>();
    ByteCounter& bytes = *counter;
    auto driver = std::make_unique<vorlan::CRelayDriver>(nullptr, std::move(counter));
    ChannelConfig channel;
    std::memset(&channel, 0, sizeof channel);
    std::snprintf(channel.portName, sizeof channel.portName, "%s", port.c_str());
    channel.baudRate = kBaud;
    channel.byteSize = 8;
    channel.stopBits = 1;
    channel.replyTimeout = 1000;
    if (driver->OpenChannelLocked(&channel) != 1) {
        std::fprintf(stderr, "cannot open %s\n", port.c_str());
        return figures;
    }
    for (const char* a : {"1", "2", "3"}) driver->AddDevice(a, nullptr);
    for (int i = 0; i < 3; ++i) driver->State().devices[static_cast<size_t>(i)].host.traceOn = 1;

    vorlan_bench::SendPacket packets[3] = {vorlan_bench::SendPacket(0), vorlan_bench::SendPacket(1),
                                           vorlan_bench::SendPacket(2)};
    // The first calls connect the setting database and bring each relay past its start.
    for (int i = 0; i < 6; ++i) driver->ProcessPacket(&packets[i % 3].packet, 0);
    bytes = ByteCounter{};

    const double wall0 = vorlan_bench::MonotonicMs(), cpu0 = vorlan_bench::ThreadCpuMs();
    int call = 0;
    while (vorlan_bench::MonotonicMs() - wall0 < seconds * 1000.0) {
        if (driver->ProcessPacket(&packets[call % 3].packet, 0) != 1) ++figures.failed;
        ++call;
    }
    const double wall = vorlan_bench::MonotonicMs() - wall0, cpu = vorlan_bench::ThreadCpuMs() - cpu0;
    driver->CloseChannelLocked();

    figures.answered = bytes.answers;
    if (bytes.answers == 0) return figures;
    const double n = static_cast<double>(bytes.answers);
    figures.exchangesPerSecond = n * 1000.0 / wall;
    const double meanWireChars = static_cast<double>(bytes.requestBytes + bytes.answerBytes) / n;
    const double limitMs = (meanWireChars + kGuardChars) * kCharMs + kTurnaroundMs;
    figures.limitPerSecond = 1000.0 / limitMs;
    figures.cpuMsPerExchange = cpu / n;
    std::printf("  %-8s %5llu answered, %d failed, mean request %.1f + answer %.1f bytes\n", timing,
                static_cast<unsigned long long>(bytes.answers), figures.failed,
                static_cast<double>(bytes.requestBytes) / n, static_cast<double>(bytes.answerBytes) / n);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    using vorlan_bench::Verdict;
    const double standardSeconds = argc > 1 ? std::atof(argv[1]) : 12;
    const double fastSeconds = argc > 2 ? std::atof(argv[2]) : 12;

    vorlan_sim::SimConfig config;
    config.seed = 7;
    config.line.paceBaud = kBaud;
    config.faults.delayMs = kTurnaroundMs;
    for (uint8_t a = 1; a <= 3; ++a) config.relays.push_back(vorlan_sim::DefaultRelay(a, a - 1u));
    vorlan_sim::Simulator sim(config);
    const std::string error = sim.Open();
    if (!error.empty()) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    sim.Start();
    char dir[] = "/tmp/vorlan-line-rate-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    const std::string linesFile = std::string(dir) + "/lines.ini";

    std::printf("Line rate: 3 relays, %d baud, %d ms turnaround, answers paced by the simulator\n", kBaud,
                kTurnaroundMs);
    const ProfileFigures standard = Run(sim.path(), linesFile, "standard", standardSeconds);
    const ProfileFigures fast = Run(sim.path(), linesFile, "fast", fastSeconds);
    sim.Stop();
    unlink(linesFile.c_str());
    rmdir(dir);
    if (standard.answered == 0 || fast.answered == 0) {
        std::fprintf(stderr, "no answered exchanges\n");
        return 1;
    }

    const double speedup = fast.exchangesPerSecond / standard.exchangesPerSecond;
    const double ofLimit = fast.exchangesPerSecond / fast.limitPerSecond;
    const double cpuRatio = fast.cpuMsPerExchange / standard.cpuMsPerExchange;
    std::printf("  standard profile   %6.2f exchanges/s   CPU %.3f ms/exchange\n", standard.exchangesPerSecond,
                standard.cpuMsPerExchange);
    std::printf("  fast profile       %6.2f exchanges/s   CPU %.3f ms/exchange\n", fast.exchangesPerSecond,
                fast.cpuMsPerExchange);
    std::printf("  physical limit     %6.2f exchanges/s   (wire time of request and answer + %d ms + 3.5 characters)\n",
                fast.limitPerSecond, kTurnaroundMs);
    std::printf("  fast / standard            %5.2fx   target >= 6x      %s\n", speedup, Verdict(speedup >= 6.0));
    std::printf("  fast / physical limit      %5.2fx   target >= 0.85x   %s\n", ofLimit, Verdict(ofLimit >= 0.85));
    std::printf("  CPU per exchange, fast / standard  %5.2fx   target <= 1.5x   %s\n", cpuRatio,
                Verdict(cpuRatio <= 1.5));
    return 0;
}
