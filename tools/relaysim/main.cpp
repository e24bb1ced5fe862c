// SPDX-License-Identifier: Apache-2.0
// vorlan-relaysim: simulated relays on one serial line, for trying the driver
// and a host configuration without a relay on the desk.

#include <CLI/CLI.hpp>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "simulator.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

// Every mistake in how the program is called ends with this code.
constexpr int kExitUsage = 2;

int Usage(const std::string& text) {
    std::fprintf(stderr, "vorlan-relaysim: %s\n", text.c_str());
    return kExitUsage;
}

// Fills relays' silent_after from "ADDRESS:ANSWERS" texts.
std::string ApplySilentAfter(const std::vector<std::string>& texts, std::vector<vorlan_sim::RelayConfig>& relays) {
    for (const std::string& t : texts) {
        const size_t colon = t.find(':');
        char* end = nullptr;
        const long address = std::strtol(t.c_str(), &end, 10);
        const long answers = colon == std::string::npos ? -1 : std::strtol(t.c_str() + colon + 1, &end, 10);
        if (colon == std::string::npos || answers < 1 || *end != '\0') {
            return "--silent-after takes ADDRESS:ANSWERS, e.g. 3:10, not '" + t + "'";
        }
        bool found = false;
        for (auto& r : relays) {
            if (r.address == address) {
                r.silentAfter = static_cast<int>(answers);
                found = true;
            }
        }
        if (!found) return "--silent-after: no relay at address " + std::to_string(address);
    }
    return {};
}

// What the command line gives; options given there win over the file.
struct CommandLine {
    std::string configFile, relays, parity;
    vorlan_sim::SimConfig cli;
    double changeRate = -1, busyRate = -1;
    int recordingSamples = 0;
    double duration = 0;
    uint64_t seed = 1;
    std::vector<std::string> silentAfter;
    std::string relayTimeZone;
};

void AddOptions(CLI::App& app, CommandLine& cl) {
    app.add_option("-c,--config", cl.configFile, "TOML file describing the line, its relays and faults");
    app.add_option("-r,--relays", cl.relays,
                   "relay addresses, e.g. 1,2,3; each may carry its type and layout: 1:21:coded,2:33:float");
    app.add_option("--link", cl.cli.line.link, "also make this symlink to the pseudo-terminal");
    app.add_option("--device", cl.cli.line.device, "serve a real serial device instead of a pseudo-terminal");
    app.add_option("--baud", cl.cli.line.baud, "baud rate of a real device")->capture_default_str();
    app.add_option("--byte-size", cl.cli.line.byteSize, "data bits of a real device")->capture_default_str();
    app.add_option("--parity", cl.parity, "parity of a real device: none, odd or even");
    app.add_option("--stop-bits", cl.cli.line.stopBits, "stop bits of a real device")->capture_default_str();
    app.add_option("--seed", cl.seed, "seed of every random choice; the same seed replays the same line");
    app.add_option("--drop", cl.cli.faults.drop, "rate of answers not sent")->check(CLI::Range(0.0, 1.0));
    app.add_option("--bad-crc", cl.cli.faults.badCrc, "rate of answers with a wrong CRC")->check(CLI::Range(0.0, 1.0));
    app.add_option("--wrong-address", cl.cli.faults.wrongAddress, "rate of answers with another relay's address")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--split", cl.cli.faults.split, "rate of answers sent in two parts")->check(CLI::Range(0.0, 1.0));
    app.add_option("--stray", cl.cli.faults.stray, "rate of answers followed by stray bytes")->check(CLI::Range(0.0, 1.0));
    app.add_option("--garbage", cl.cli.faults.garbage, "rate of answers preceded by line noise")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--delay-ms", cl.cli.faults.delayMs, "time from request to answer")->capture_default_str();
    app.add_option("--turnaround-ms", cl.cli.faults.delayMs,
                   "the relay's reaction time: the same as --delay-ms; with --pace-baud it counts from the "
                   "request's last byte on the wire");
    app.add_option("--pace-baud", cl.cli.line.paceBaud,
                   "answers leave at the wire rate of this baud rate, 10 bits a byte, and requests are heard "
                   "after their wire time, as on a real line");
    app.add_option("--jitter-ms", cl.cli.faults.jitterMs, "random extra delay, up to this");
    app.add_option("--split-gap-ms", cl.cli.faults.splitGapMs, "gap between the parts of a split answer")
        ->capture_default_str();
    app.add_option("--change-rate", cl.changeRate, "chance per poll that a status input changes")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--busy-rate", cl.busyRate, "chance per poll of a 0xB0 or 0xBA answer")->check(CLI::Range(0.0, 1.0));
    app.add_option("--recording-samples", cl.recordingSamples, "last sample number of each fault recording (1..239)");
    app.add_option("--duration", cl.duration, "stop after this many seconds");
    app.add_option("--silent-after", cl.silentAfter,
                   "ADDRESS:ANSWERS: the relay falls silent after this many answers (a relay that fails mid-run)");
    app.add_option("--relay-time-zone", cl.relayTimeZone,
                   "the zone the relays' clocks keep until the driver sets them: an offset (+08:00) or a zone "
                   "name (Europe/Berlin); default +08:00, the driver's relay_time_zone default");
    app.add_flag("-v,--verbose", cl.cli.verbose, "print every frame on standard error");
}

// The line to simulate: the file, then the command line over it. An error
// text for a usage mistake.
std::string MergeCommandLine(const CLI::App& app, const CommandLine& cl, vorlan_sim::SimConfig& config) {
    using namespace vorlan_sim;
    if (!cl.configFile.empty()) {
        if (std::string e = LoadSimConfigFile(cl.configFile, config); !e.empty()) return e;
    }
    if (!cl.relays.empty()) {
        if (std::string e = ParseRelayList(cl.relays, config.relays); !e.empty()) return ("--relays: " + e);
    }
    if (config.relays.empty() && cl.configFile.empty()) ParseRelayList("1", config.relays);
    // Options given on the command line win over the file.
    auto given = [&](const char* name) { return app.count(name) > 0; };
    if (given("--link")) config.line.link = cl.cli.line.link;
    if (given("--device")) config.line.device = cl.cli.line.device;
    if (given("--baud")) config.line.baud = cl.cli.line.baud;
    if (given("--byte-size")) config.line.byteSize = cl.cli.line.byteSize;
    if (given("--stop-bits")) config.line.stopBits = cl.cli.line.stopBits;
    if (given("--parity")) {
        if (cl.parity == "none") config.line.parity = 0;
        else if (cl.parity == "odd") config.line.parity = 1;
        else if (cl.parity == "even") config.line.parity = 2;
        else return ("--parity must be none, odd or even");
    }
    if (given("--seed")) config.seed = cl.seed;
    if (given("--drop")) config.faults.drop = cl.cli.faults.drop;
    if (given("--bad-crc")) config.faults.badCrc = cl.cli.faults.badCrc;
    if (given("--wrong-address")) config.faults.wrongAddress = cl.cli.faults.wrongAddress;
    if (given("--split")) config.faults.split = cl.cli.faults.split;
    if (given("--stray")) config.faults.stray = cl.cli.faults.stray;
    if (given("--garbage")) config.faults.garbage = cl.cli.faults.garbage;
    if (given("--delay-ms") || given("--turnaround-ms")) config.faults.delayMs = cl.cli.faults.delayMs;
    if (given("--pace-baud")) config.line.paceBaud = cl.cli.line.paceBaud;
    if (given("--jitter-ms")) config.faults.jitterMs = cl.cli.faults.jitterMs;
    if (given("--split-gap-ms")) config.faults.splitGapMs = cl.cli.faults.splitGapMs;
    if (given("--verbose")) config.verbose = true;
    for (RelayConfig& r : config.relays) {
        if (cl.changeRate >= 0) r.changeRate = cl.changeRate;
        if (cl.busyRate >= 0) r.busyRate = cl.busyRate;
        if (cl.recordingSamples > 0) r.recordingSamples = cl.recordingSamples;
    }
    if (given("--relay-time-zone")) {
        vorlan::RelayZone zone;
        std::string why;
        if (!vorlan::RelayZone::FromText(cl.relayTimeZone, zone, why)) return "--relay-time-zone: " + why;
        for (RelayConfig& r : config.relays) r.clockZone = zone;
    }
    if (std::string e = ApplySilentAfter(cl.silentAfter, config.relays); !e.empty()) return (e);
    if (std::string e = ValidateSimConfig(config); !e.empty()) return (e);
    if (!config.line.link.empty()) {
        // The link replaces only a link (a stale one of an earlier run), never a file.
        struct stat st {};
        if (lstat(config.line.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            return ("--link " + config.line.link + " exists and is not a symbolic link; not replacing it");
        }
    }

    return {};
}

// Serves the line until a signal, the duration or a failure.
int RunSimulator(const vorlan_sim::SimConfig& config, double duration) {
    using namespace vorlan_sim;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Simulator sim(config);
    if (std::string e = sim.Open(); !e.empty()) {
        std::fprintf(stderr, "vorlan-relaysim: %s\n", e.c_str());
        return 1;
    }
    std::printf("%s\n", sim.path().c_str());
    std::fflush(stdout);
    std::string relayText;
    for (const RelayConfig& r : config.relays) {
        relayText += " " + std::to_string(r.address) + "(type " + std::to_string(r.type) +
                     (r.layout == SettingLayout::Coded ? ", coded" : ", float") + ")";
    }
    std::fprintf(stderr, "vorlan-relaysim: line %s%s%s, relays%s, seed %llu\n", sim.path().c_str(),
                 sim.link().empty() ? "" : " linked as ", sim.link().c_str(), relayText.c_str(),
                 static_cast<unsigned long long>(config.seed));

    std::thread timer;
    if (duration > 0) {
        timer = std::thread([duration] {
            const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(duration);
            while (!g_stop && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            g_stop = true;
        });
    }
    const std::string ended = sim.Run(g_stop);
    g_stop = true;
    if (timer.joinable()) timer.join();
    std::fprintf(stderr, "vorlan-relaysim: %s\n", sim.Summary().c_str());
    if (!ended.empty()) {
        std::fprintf(stderr, "vorlan-relaysim: %s\n", ended.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated protective relays on one serial line.\n"
                 "Creates a pseudo-terminal and prints its path on the first line of standard output,\n"
                 "or serves a real serial device. Stops on SIGINT or SIGTERM."};
    CommandLine cl;
    AddOptions(app, cl);
    app.set_version_flag("--version", "vorlan-relaysim " VORLAN_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }
    vorlan_sim::SimConfig config;
    if (std::string e = MergeCommandLine(app, cl, config); !e.empty()) return Usage(e);
    return RunSimulator(config, cl.duration);
}
