// vorlan-host info, export and analyse of a large COMTRADE recording: one
// million samples of 30 analog and 2 digital channels in BINARY (74 MB), as
// the built program runs them. Wall time and peak resident memory of each,
// beside the targets; the memory shows the samples are streamed, not held.
//
//   bench_comtrade_stream [samples]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kAnalog = 30, kDigital = 2;
constexpr double kRate = 4000, kHz = 50;

void WriteRecording(const std::string& base, long samples) {
    FILE* cfg = std::fopen((base + ".CFG").c_str(), "wb");
    std::fprintf(cfg, "Bench,Relay,1999\r\n%d,%dA,%dD\r\n", kAnalog + kDigital, kAnalog, kDigital);
    for (int j = 0; j < kAnalog; ++j) {
        std::fprintf(cfg, "%d,I%d,%c,Line %d,A,0.01,0,0,-32767,32767,1200,1,S\r\n", j + 1, j + 1, "ABC"[j % 3], j / 3);
    }
    for (int j = 0; j < kDigital; ++j) std::fprintf(cfg, "%d,Trip%d,,,0\r\n", j + 1, j + 1);
    std::fprintf(cfg, "%g\r\n1\r\n%g,%ld\r\n05/03/2024,13:04:05.000000\r\n05/03/2024,13:04:05.100000\r\nBINARY\r\n1\r\n",
                 kHz, kRate, samples);
    std::fclose(cfg);
    FILE* dat = std::fopen((base + ".DAT").c_str(), "wb");
    std::vector<unsigned char> sample(8 + 2 * kAnalog + 2);
    for (long i = 0; i < samples; ++i) {
        auto put = [&](size_t at, unsigned long v, int bytes) {
            for (int k = 0; k < bytes; ++k) sample[at + static_cast<size_t>(k)] = static_cast<unsigned char>(v >> (8 * k));
        };
        put(0, static_cast<unsigned long>(i + 1), 4);
        put(4, static_cast<unsigned long>(i * 250), 4);
        const double angle = 2 * M_PI * kHz * static_cast<double>(i) / kRate;
        for (int j = 0; j < kAnalog; ++j) {
            const double x = 14142 * std::cos(angle - (j % 3) * 2 * M_PI / 3) + 500 * std::cos(3 * angle);
            put(8 + 2 * static_cast<size_t>(j), static_cast<unsigned long>(static_cast<long>(std::lround(x))) & 0xFFFF, 2);
        }
        put(8 + 2 * kAnalog, i > samples / 2 ? 1 : 0, 2);
        std::fwrite(sample.data(), 1, sample.size(), dat);
    }
    std::fclose(dat);
}

struct Run {
    double seconds = 0;
    long maxRssKiB = 0;
    int status = -1;
};

Run Time(const std::vector<std::string>& args, const std::string& output) {
    std::fflush(stdout);  // else the child writes our buffered lines again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(output.c_str(), "wb", stdout)) _exit(127);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Run run;
    rusage usage{};
    wait4(pid, &run.status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.maxRssKiB = usage.ru_maxrss;
    return run;
}

long FileBytes(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

}  // namespace

int main(int argc, char** argv) {
    const long samples = argc > 1 ? std::atol(argv[1]) : 1000000;
    char dir[] = "/tmp/vorlan-bench-comtrade-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string base = std::string(dir) + "/big";
    WriteRecording(base, samples);
    std::printf("COMTRADE recording: %ld samples, %d analog + %d digital channels, BINARY, %.1f MB\n", samples, kAnalog,
                kDigital, static_cast<double>(FileBytes(base + ".DAT")) / 1e6);
    const std::string host = VORLAN_HOST_PATH;
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string output;
        double target;
    } cases[] = {
        {"info", {host, "info", base + ".CFG"}, "/dev/null", 3},
        {"export", {host, "export", base + ".CFG", "-o", base + ".csv"}, "/dev/null", 10},
        {"analyse", {host, "analyse", base + ".CFG"}, "/dev/null", 3},
        // The JSON object holds the whole RMS and phasor series (one row per cycle).
        {"analyse --json", {host, "--json", "analyse", base + ".CFG"}, "/dev/null", 3},
    };
    int failed = 0;
    for (const Case& c : cases) {
        const Run run = Time(c.args, c.output);
        const bool ok = WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
        std::printf("%-15s %6.2f s (target < %g s) %s, peak resident memory %.1f MB%s\n", c.name, run.seconds, c.target,
                    run.seconds < c.target ? "met" : "NOT MET", static_cast<double>(run.maxRssKiB) / 1024,
                    ok ? "" : "  (the command failed)");
        if (std::string(c.name) == "export") {
            std::printf("                table of %.1f MB\n", static_cast<double>(FileBytes(base + ".csv")) / 1e6);
        }
        failed += ok ? 0 : 1;
    }
    for (const char* ext : {".CFG", ".DAT", ".csv"}) std::remove((base + ext).c_str());
    rmdir(dir);
    return failed == 0 ? 0 : 1;
}
