// SPDX-License-Identifier: Apache-2.0
// vorlan-host telling the truth as a newcomer meets it: per-relay counts and
// states from the driver (an absent relay, a relay falling silent), record
// refusing at once where no files can be written and not waiting long when
// none come, pipes that close, JSON lines from every command, confirmation
// before a control, and the long port names of /dev/serial/by-id.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <grp.h>
#include <unistd.h>

#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "tool_process.h"

using namespace vorlan_tools_test;

namespace {

const char kItems[] = R"(items = ["YC1-YC4", "YX1-YX8", "YM1-YM2", "BWYX1-BWYX8", "BWYX10001-BWYX10008"])";
const std::regex kIsoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");

struct SimCounts {
    long requests = 0;
    long answers = 0;
};

// "relay N: R requests, A answers" from the simulator's closing summary.
std::map<int, SimCounts> SimulatorCounts(const std::string& log) {
    std::map<int, SimCounts> out;
    const std::regex each(R"(relay (\d+): (\d+) requests, (\d+) answers)");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), each); it != std::sregex_iterator(); ++it) {
        out[std::stoi((*it)[1])] = SimCounts{std::stol((*it)[2]), std::stol((*it)[3])};
    }
    return out;
}

// Every line must be a JSON object with a type and an ISO 8601 time with its offset.
std::vector<nlohmann::json> StrictJsonLines(const std::string& output) {
    std::vector<nlohmann::json> out;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        EXPECT_TRUE(j.is_object()) << "not a JSON object: " << line;
        if (!j.is_object()) continue;
        EXPECT_TRUE(j.contains("type") && j["type"].is_string()) << line;
        EXPECT_TRUE(j.contains("time") && std::regex_match(j["time"].get<std::string>(), kIsoTime)) << line;
        out.push_back(j);
    }
    return out;
}

// A prefix that runs a command as an unprivileged user when the tests run as
// root, so that permissions mean something; empty when that can't be done.
std::string Unprivileged() {
    if (geteuid() != 0) return " ";
    const std::string prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    return RunTool(prefix + ToolPath("vorlan-host") + " --version").code == 0 ? prefix : "";
}

class HostTruth : public ::testing::Test {
protected:
    void StartLine(const std::string& simArguments, const std::vector<int>& addresses) {
        simLog_ = dir_.path() + "/sim.log";
        sim_ = std::make_unique<SimulatorProcess>(simArguments, simLog_);
        ASSERT_FALSE(sim_->path().empty());
        std::ostringstream s;
        s << "name = \"test station\"\n[driver]\nlibrary = \"" << LibraryPath() << "\"\n[channel]\nport = \""
          << sim_->path() << "\"\n";
        for (int a : addresses) s << "[[relay]]\naddress = " << a << "\n" << kItems << "\n";
        station_ = dir_.path() + "/station.toml";
        WriteFile(station_, s.str());
        rec_ = dir_.path() + "/rec";
        mkdir(rec_.c_str(), 0755);
        env_ = {"VORLAN_REGISTRY=" + dir_.path() + "/registry.ini", "VORLAN_RECORDING_DIR=" + rec_,
                "VORLAN_MONITOR=vorlan-truth-test-" + std::to_string(getpid())};
    }
    std::string HostCommand(const std::string& arguments) const {
        return ToolPath("vorlan-host") + " -s " + Quote(station_) + " " + arguments;
    }
    Result Host(const std::string& arguments) { return RunTool(HostCommand(arguments), env_); }
    Result HostStdout(const std::string& arguments) { return RunToolStdout(HostCommand(arguments), env_); }
    // Stops the simulator and returns what it counted per relay.
    std::map<int, SimCounts> StopLine() {
        sim_->Stop();
        return SimulatorCounts(ReadFile(simLog_));
    }

    TempDir dir_;
    std::unique_ptr<SimulatorProcess> sim_;
    std::string simLog_, station_, rec_;
    std::vector<std::string> env_;
};

}  // namespace

TEST_F(HostTruth, PerRelayCountsAndStatesAreTheDriversAndMatchWhatTheSimulatorSaw) {
    // Relay 4 is configured but absent; relay 2 answers three times, then falls silent.
    StartLine("--relays 1,2,3 --silent-after 2:3 --change-rate 0 --busy-rate 0", {1, 2, 3, 4});
    const Result r = HostStdout("--json poll -n 32");
    const auto seen = StopLine();
    ASSERT_EQ(r.code, 0) << r.output;

    std::map<int, nlohmann::json> summary;
    std::map<int, std::vector<std::string>> states;  // each relay's reported states in order
    std::map<int, int> values;
    for (const auto& j : StrictJsonLines(r.output)) {
        const int relay = j.value("relay", 0);
        if (j["type"] == "summary") summary[relay] = j;
        if (j["type"] == "relay") states[relay].push_back(j["state"]);
        if (j["type"] == "value") {
            ++values[relay];
            EXPECT_NE(j["state"], "no-answer") << j;
        }
    }
    ASSERT_EQ(summary.size(), 4u) << r.output;
    for (int relay : {1, 2, 3}) {
        ASSERT_TRUE(seen.count(relay)) << ReadFile(simLog_);
        EXPECT_EQ(summary[relay]["requests"].get<long>(), seen.at(relay).requests) << "relay " << relay;
        EXPECT_EQ(summary[relay]["answers"].get<long>(), seen.at(relay).answers) << "relay " << relay;
        EXPECT_GT(values[relay], 0) << "relay " << relay;
    }
    EXPECT_EQ(summary[1]["state"], "ok");
    EXPECT_EQ(summary[3]["state"], "ok");

    EXPECT_EQ(summary[2]["state"], "stale");
    EXPECT_EQ(summary[2]["answers"], 3);
    EXPECT_GE(summary[2]["consecutive_failures"].get<int>(), 3);
    EXPECT_TRUE(std::regex_match(summary[2]["last_answer"].get<std::string>(), kIsoTime));
    ASSERT_FALSE(states[2].empty());
    EXPECT_EQ(states[2].back(), "stale");

    // The absent relay: asked, never answered, and none of its zeros shown as values.
    EXPECT_EQ(summary[4]["state"], "no-answer");
    EXPECT_EQ(summary[4]["answers"], 0);
    EXPECT_GT(summary[4]["requests"].get<int>(), 0);
    EXPECT_EQ(summary[4]["timeouts"], summary[4]["requests"]);
    EXPECT_TRUE(summary[4]["last_answer"].is_null());
    EXPECT_EQ(values[4], 0);
}

TEST_F(HostTruth, NothingOnTheLineShowsNoValuesAndFails) {
    StartLine("--relays 9", {1, 2});
    const Result r = Host("poll -n 4");
    EXPECT_EQ(r.code, 1) << r.output;
    EXPECT_EQ(r.output.find(" = "), std::string::npos) << r.output;  // no value lines at all
    EXPECT_NE(r.output.find("relay 1 (relay 1): no answer yet"), std::string::npos) << r.output;
    // What to look at when a whole line is silent: settings, wiring, addresses.
    EXPECT_NE(r.output.find("answered (9600 baud, 8 data bits, no parity, 1 stop bit): check that the relays use "
                            "the same baud rate and parity, the wiring"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("addresses are the relays' own"), std::string::npos) << r.output;
    // The same from a probe and a scan that find nobody.
    for (const char* command : {"probe", "scan --from 1 --to 2"}) {
        const Result other = Host(command);
        EXPECT_EQ(other.code, 1) << command << other.output;
        EXPECT_NE(other.output.find("the wiring"), std::string::npos) << command << other.output;
    }
}

TEST_F(HostTruth, CtrlCEndsAPollWithItsSummaryAnd130) {
    StartLine("--relays 1", {1});
    const Result r = RunTool("bash -c " + Quote(HostCommand("poll") +
                                                " & pid=$!; sleep 3; kill -INT $pid; wait $pid; echo status=$?"),
                             env_);
    EXPECT_NE(r.output.find("status=130"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("relay 1 (relay 1): "), std::string::npos) << r.output;  // the summary still comes
    // A poll that runs to its count is a success.
    EXPECT_EQ(Host("poll -n 2").code, 0);
}

TEST_F(HostTruth, RecordRefusesAtOnceWhereTheDriverCouldWriteNoFiles) {
    StartLine("--relays 1 --recording-samples 12", {1});
    auto record = [&](const std::string& dir, const std::string& prefix = "") {
        std::vector<std::string> env = env_;
        env[1] = "VORLAN_RECORDING_DIR=" + dir;
        return RunTool(prefix + HostCommand("record -r 1"), env);
    };
    const std::string channelFile = rec_ + "/通道配置文件.txt";

    Result r = record(dir_.path() + "/missing");
    EXPECT_EQ(r.code, 7);
    EXPECT_NE(r.output.find("does not exist"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("mkdir -p"), std::string::npos) << r.output;

    r = record(station_);
    EXPECT_EQ(r.code, 7);
    EXPECT_NE(r.output.find("is not a directory"), std::string::npos) << r.output;

    r = record(rec_);
    EXPECT_EQ(r.code, 7);
    EXPECT_NE(r.output.find(channelFile + " is missing"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("channel-file --init"), std::string::npos) << r.output;

    WriteFile(channelFile, "仿真变电站\n1 Ia A 出线 A 0.01 0 0 -32767 32767\n");  // UTF-8, not GBK
    r = record(rec_);
    EXPECT_EQ(r.code, 7);
    EXPECT_NE(r.output.find("is not GBK text (it is UTF-8 text, not GBK)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("iconv -f UTF-8 -t GBK"), std::string::npos) << r.output;

    const std::string unprivileged = Unprivileged();
    if (!unprivileged.empty()) {
        WriteFile(channelFile, "STATION\n");
        chmod(dir_.path().c_str(), 0755);
        chmod(rec_.c_str(), 0555);
        r = record(rec_, unprivileged);
        EXPECT_EQ(r.code, 7);
        EXPECT_NE(r.output.find("is not writable"), std::string::npos) << r.output;
        chmod(rec_.c_str(), 0777);
        chmod(channelFile.c_str(), 0);
        r = record(rec_, unprivileged);
        EXPECT_EQ(r.code, 7);
        EXPECT_NE(r.output.find("can't be read"), std::string::npos) << r.output;
        chmod(rec_.c_str(), 0755);
    }
    // Each refusal came before anything went on the line.
    EXPECT_EQ(StopLine()[1].requests, 0) << ReadFile(simLog_);
}

TEST_F(HostTruth, RecordWaitsOnlyAFewTurnsForFilesThatDoNotComeAndSaysSo) {
    StartLine("--relays 1 --recording-samples 12", {1});
    WriteFile(rec_ + "/通道配置文件.txt", "STATION\n");
    // Directories in the way of every .CFG name the list could get in the
    // next two minutes: the driver can't create the files.
    const time_t now = time(nullptr);
    for (time_t t = now; t < now + 120; ++t) {
        tm local{};
        localtime_r(&t, &local);
        char name[64];
        std::snprintf(name, sizeof name, "%4d%2d%2d%2d%2d%2d.CFG", local.tm_year + 1900, local.tm_mon + 1,
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        mkdir((rec_ + "/" + name).c_str(), 0755);
    }
    const Result r = Host("record -r 1 --timeout 600");
    EXPECT_EQ(r.code, 7) << r.output;
    EXPECT_NE(r.output.find("12/12 samples"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("all 12 samples of recording"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("the driver wrote no files"), std::string::npos) << r.output;
}

TEST_F(HostTruth, PollIntoAPipeThatClosesEndsQuietly) {
    StartLine("--relays 1", {1});
    // Without -n, poll only ends when its reader goes; the timeout is a guard.
    const Result r = RunTool("bash -c " + Quote("timeout 120 " + HostCommand("poll") + " | head -1 >/dev/null; "
                                                "echo status=${PIPESTATUS[0]}"),
                             env_);
    EXPECT_NE(r.output.find("status=141"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("vorlan-host:"), std::string::npos) << r.output;  // no complaint
}

TEST_F(HostTruth, EveryCommandsJsonIsJsonLinesWithTypeAndTime) {
    StartLine("--relays 1,2 --recording-samples 12 --change-rate 0.3", {1, 2});
    WriteFile(rec_ + "/通道配置文件.txt", "STATION\n");
    const std::string monitorName = "vorlan-truth-monitor-" + std::to_string(getpid());
    Result monitor;
    std::thread listener([&] {
        monitor = RunToolStdout(ToolPath("vorlan-host") + " --json monitor --name " + monitorName + " -n 2 --seconds 30");
    });
    usleep(300 * 1000);
    std::vector<std::string> env = env_;
    env.back() = "VORLAN_MONITOR=" + monitorName;
    const Result poll = RunToolStdout(HostCommand("--json poll -n 4 --trace"), env);
    listener.join();
    EXPECT_EQ(poll.code, 0);
    EXPECT_EQ(monitor.code, 0);

    std::map<std::string, std::set<std::string>> types;
    auto take = [&](const std::string& command, const Result& r) {
        EXPECT_EQ(r.code, 0) << command << "\n" << r.output;
        for (const auto& j : StrictJsonLines(r.output)) types[command].insert(j["type"].get<std::string>());
    };
    take("poll", poll);
    take("monitor", monitor);
    take("probe", HostStdout("--json probe"));
    take("write", HostStdout("--json write -r 1 YK1 close --yes"));
    take("record", HostStdout("--json record -r 1"));
    take("scan", HostStdout("--json scan --from 1 --to 3"));
    take("ports", HostStdout("--json ports"));
    take("channel-file", HostStdout("--json channel-file --init " + Quote(dir_.path() + "/chan")));
    EXPECT_TRUE(types["poll"].count("value") && types["poll"].count("summary") && types["poll"].count("relay"));
    EXPECT_TRUE(types["monitor"].count("trace"));
    EXPECT_TRUE(types["probe"].count("probe"));
    EXPECT_TRUE(types["write"].count("write") && types["write"].count("outcome"));
    EXPECT_TRUE(types["record"].count("recordings") && types["record"].count("recording"));
    EXPECT_TRUE(types["scan"].count("found") && types["scan"].count("scan"));
    EXPECT_TRUE(types["channel-file"].count("channel-file"));
    // The recording's picture, from the files just written.
    std::string cfg;
    if (DIR* d = opendir(rec_.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".CFG") == 0) cfg = rec_ + "/" + name;
        }
        closedir(d);
    }
    ASSERT_FALSE(cfg.empty());
    take("plot", RunToolStdout(ToolPath("vorlan-host") + " --json plot " + Quote(cfg) + " -o " +
                               Quote(dir_.path() + "/pic")));
    EXPECT_TRUE(types["plot"].count("plot"));
}

TEST_F(HostTruth, ControlsNeedConfirmationWithoutATerminal) {
    StartLine("--relays 1 --change-rate 0", {1});
    Result r = Host("write -r 1 YK2 close < /dev/null");
    EXPECT_EQ(r.code, 2) << r.output;
    EXPECT_NE(r.output.find("add --yes"), std::string::npos) << r.output;
    r = Host("write -r 1 YK2 cancel < /dev/null");  // a cancel operates nothing
    EXPECT_EQ(r.code, 0) << r.output;
    sim_->Stop();
    EXPECT_NE(ReadFile(simLog_).find("controls 0"), std::string::npos) << ReadFile(simLog_);
}

TEST_F(HostTruth, LongPortNamesAreResolvedAndSaidSo) {
    StartLine("--relays 1", {1});
    const std::string link = dir_.path() + "/usb-Vendor_Model_Serial_A1B2C3D4-if00-port0";
    ASSERT_EQ(symlink(sim_->path().c_str(), link.c_str()), 0);
    std::string text = ReadFile(station_);
    text.replace(text.find(sim_->path()), sim_->path().size(), link);
    WriteFile(station_, text);
    const Result r = Host("probe");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("using its device path " + sim_->path()), std::string::npos) << r.output;
}

TEST(HostVersion, EveryProgramTellsItsVersion) {
    for (const std::string program : {"vorlan-host", "vorlan-relaysim"}) {
        const Result r = RunTool(ToolPath(program) + " --version");
        EXPECT_EQ(r.code, 0) << r.output;
        EXPECT_TRUE(std::regex_match(r.output, std::regex(program + " \\d+\\.\\d+(\\.\\d+)?\n"))) << r.output;
    }
}

TEST_F(HostTruth, ControlsAskOnATerminalAndGoOnlyOnYes) {
    StartLine("--relays 1 --change-rate 0", {1});
    // script(1) gives the tool a terminal; the answer comes from the pipe.
    auto onTerminal = [&](const std::string& answer) {
        return RunTool("bash -c " + Quote("printf '" + answer + "\\n' | script -qec " + Quote(HostCommand("write -r 1 YK2 close")) +
                                          " /dev/null"),
                       env_);
    };
    Result r = onTerminal("n");
    EXPECT_EQ(r.code, 1) << r.output;
    EXPECT_NE(r.output.find("About to close point 2 of relay 1"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("not confirmed: nothing was sent"), std::string::npos) << r.output;
    r = onTerminal("y");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("executed: closed (41)"), std::string::npos) << r.output;
    sim_->Stop();
    EXPECT_NE(ReadFile(simLog_).find("controls 1,"), std::string::npos) << ReadFile(simLog_);
}

TEST_F(HostTruth, CtrlCEndsARecordingWithItsOwnMessageAndCode) {
    StartLine("--relays 1 --recording-samples 239 --delay-ms 150", {1});
    WriteFile(rec_ + "/通道配置文件.txt", "STATION\n");
    const Result r = RunTool("bash -c " + Quote(HostCommand("record -r 1") +
                                                " & pid=$!; sleep 4; kill -INT $pid; wait $pid; echo status=$?"),
                             env_);
    EXPECT_NE(r.output.find("status=130"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("interrupted (Ctrl-C)"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("not completed"), std::string::npos) << r.output;
}

TEST_F(HostTruth, APortThatMayNotBeOpenedSaysWhoMayOpenIt) {
    const std::string unprivileged = Unprivileged();
    if (unprivileged.empty() || geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
    StartLine("--relays 1", {1});
    chmod(dir_.path().c_str(), 0755);
    // A pseudo-terminal only its owner may open: no group to join.
    chmod(sim_->path().c_str(), 0600);
    Result r = RunTool(unprivileged + HostCommand("probe"), env_);
    EXPECT_EQ(r.code, 4) << r.output;
    EXPECT_NE(r.output.find("permission denied on " + sim_->path() + " (crw-------"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("no group gives access"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("usermod"), std::string::npos) << r.output;

    // A device its group may open: that group is the advice.
    const struct group* dialout = getgrnam("dialout");
    if (dialout == nullptr) return;
    ASSERT_EQ(chown(sim_->path().c_str(), 0, dialout->gr_gid), 0);
    chmod(sim_->path().c_str(), 0660);
    r = RunTool(unprivileged + HostCommand("probe"), env_);
    EXPECT_EQ(r.code, 4) << r.output;
    EXPECT_NE(r.output.find("permission denied on " + sim_->path() + ": add your user to the 'dialout' group"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("usermod -aG dialout"), std::string::npos) << r.output;
}

TEST_F(HostTruth, SilentRelayOnAFastLineIsShownRetrying) {
    // Relay 2 answers three times, then falls silent; the fast profile backs it off.
    StartLine("--relays 1,2 --pace-baud 9600 --turnaround-ms 20 --silent-after 2:3 --change-rate 0 --busy-rate 0",
              {1, 2});
    const std::string lines = dir_.path() + "/lines.ini";
    WriteFile(lines, "[default]\ntiming = fast\n");
    env_.push_back("VORLAN_LINES=" + lines);
    const Result r = HostStdout("--json poll -n 40");
    // A second run: relay 2 is silent from the start.
    const Result text = Host("poll -n 12");
    StopLine();
    ASSERT_EQ(r.code, 0) << r.output;
    std::map<int, nlohmann::json> summary;
    for (const auto& j : StrictJsonLines(r.output)) {
        if (j["type"] == "summary") summary[j.value("relay", 0)] = j;
    }
    ASSERT_EQ(summary.size(), 2u) << r.output;
    EXPECT_EQ(summary[1]["backoff"], false);
    EXPECT_EQ(summary[2]["backoff"], true) << summary[2];
    EXPECT_GE(summary[2]["retry_interval_ms"].get<int>(), 1000);
    // Most of the line went to the live relay.
    EXPECT_GT(summary[1]["answers"].get<int>(), 2 * summary[2]["requests"].get<int>()) << r.output;
    EXPECT_NE(text.output.find("no answer yet, retrying every"), std::string::npos) << text.output;
}
