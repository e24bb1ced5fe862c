// vorlan-host against vorlan-relaysim over a pseudo-terminal, both run as
// the built programs: polling, a remote control, settings on SQLite, a
// recording with its files and plot, the monitor, and station files with
// errors.

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "tool_process.h"

using namespace vorlan_tools_test;

namespace {

const char kItems[] = R"(items = ["YC1-YC4", "YX1-YX8", "YM1-YM2", "BWYX1-BWYX8", "BWYX10001-BWYX10008"])";

class HostAgainstSimulator : public ::testing::Test {
protected:
    void StartLine(const std::string& simArguments, int relays) {
        sim_ = std::make_unique<SimulatorProcess>(simArguments);
        ASSERT_FALSE(sim_->path().empty());
        std::ostringstream s;
        s << "name = \"test station\"\n[driver]\nlibrary = \"" << LibraryPath() << "\"\n[channel]\nport = \""
          << sim_->path() << "\"\nbaud = 9600\n";
        for (int a = 1; a <= relays; ++a) s << "[[relay]]\naddress = " << a << "\n" << kItems << "\n";
        station_ = dir_.path() + "/station.toml";
        WriteFile(station_, s.str());
        RunTool("mkdir -p " + Quote(dir_.path() + "/rec"));
        env_ = {"VORLAN_REGISTRY=" + dir_.path() + "/registry.ini", "VORLAN_RECORDING_DIR=" + dir_.path() + "/rec",
                "VORLAN_MONITOR=vorlan-tools-test-" + std::to_string(getpid())};
    }
    Result Host(const std::string& arguments) {
        return RunTool(ToolPath("vorlan-host") + " -s " + Quote(station_) + " " + arguments, env_);
    }

    TempDir dir_;
    std::unique_ptr<SimulatorProcess> sim_;
    std::string station_;
    std::vector<std::string> env_;
};

std::vector<nlohmann::json> JsonLines(const std::string& output) {
    std::vector<nlohmann::json> out;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '{') out.push_back(nlohmann::json::parse(line));
    }
    return out;
}

}  // namespace

TEST_F(HostAgainstSimulator, PollingShowsEveryRelaysValuesWithGoodQuality) {
    StartLine("--relays 1,2 --change-rate 0 --busy-rate 0", 2);
    const Result r = Host("poll -n 6 --json");
    ASSERT_EQ(r.code, 0) << r.output;
    int measurements[3] = {0, 0, 0};
    int answered = 0, failed = 0;
    for (const auto& j : JsonLines(r.output)) {
        if (j["type"] == "summary") {
            answered += j["answers"].get<int>();
            failed += j["timeouts"].get<int>() + j["rejected"].get<int>();
            EXPECT_EQ(j["state"], "ok");
        } else if (j["type"] == "value" && j["item"].get<std::string>().rfind("YC", 0) == 0) {
            EXPECT_EQ(j["quality"], 192);
            if (j["value"].get<double>() != 0) ++measurements[j["relay"].get<int>()];
        }
    }
    EXPECT_GT(measurements[1], 0) << r.output;
    EXPECT_GT(measurements[2], 0) << r.output;
    EXPECT_EQ(answered, 6);
    EXPECT_EQ(failed, 0);
}

TEST_F(HostAgainstSimulator, RegisteringFirstThenLoadingByNameAndProbing) {
    StartLine("--relays 1", 1);
    const Result r = Host("--library " + Quote(LibraryPath()) + " --register probe");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("1 of 1 relays answer"), std::string::npos) << r.output;
    // Registered under the SONAME link, which an upgrade keeps.
    const std::string versioned = LibraryPath();
    const std::string soname = versioned.substr(0, versioned.find('.', versioned.rfind(".so.") + 4));
    EXPECT_NE(ReadFile(dir_.path() + "/registry.ini").find("InprocServer=" + soname + "\n"), std::string::npos);
}

TEST_F(HostAgainstSimulator, RemoteControlIsExecutedAndConfirmed) {
    StartLine("--relays 1,2 --change-rate 0", 2);
    Result r = Host("write -r 2 YK3 close --yes");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("executed: closed (41)"), std::string::npos) << r.output;
    r = Host("write -r 2 YK3 sideways");
    EXPECT_EQ(r.code, 2) << r.output;
}

TEST_F(HostAgainstSimulator, SettingsAreReadIntoSqliteEditedAndWrittenBack) {
    StartLine("--relays 1,2 --change-rate 0", 2);
    const Result db = RunTool(std::string(VORLAN_SOURCE_DIR) + "/scripts/make-setting-db.sh " + Quote(dir_.path() + "/db"));
    ASSERT_EQ(db.code, 0) << db.output;
    env_.push_back("ODBCSYSINI=" + dir_.path() + "/db");
    env_.push_back("ODBCINI=" + dir_.path() + "/db/odbc.ini");

    Result r = Host("settings -r 1 -z 1 --set '#1=12.5' --write --yes");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("电流速断时限"), std::string::npos) << r.output;  // names from the catalogue
    r = Host("--json settings -r 1 -z 1");
    ASSERT_EQ(r.code, 0) << r.output;
    const auto lines = JsonLines(r.output);
    ASSERT_EQ(lines.size(), 1u) << r.output;
    EXPECT_EQ(lines[0]["type"], "settings");
    EXPECT_EQ(lines[0]["relay_type"], 210);
    bool found = false;
    for (const auto& s : lines[0]["settings"]) {
        if (s["id"] == 1) {
            EXPECT_DOUBLE_EQ(s["value"].get<double>(), 12.5);  // stored by the relay, read back
            found = true;
        }
    }
    EXPECT_TRUE(found);

    r = Host("settings -r 2 -z 0 --set 'v2=3.25' --write --yes");  // float layout
    ASSERT_EQ(r.code, 0) << r.output;
    r = Host("--json settings -r 2 -z 0");
    const auto after = JsonLines(r.output);
    ASSERT_EQ(after.size(), 1u) << r.output;
    EXPECT_DOUBLE_EQ(after[0]["settings"][1]["value"].get<double>(), 3.25);

    r = Host("settings -r 1 -z 1 --set 'no such setting=1'");
    EXPECT_EQ(r.code, 2) << r.output;
}

TEST_F(HostAgainstSimulator, SettingsThatDoNotFitTheirSlotsAreNamedAndNothingIsWritten) {
    StartLine("--relays 1 --change-rate 0", 1);
    const Result db = RunTool(std::string(VORLAN_SOURCE_DIR) + "/scripts/make-setting-db.sh " + Quote(dir_.path() + "/db"));
    ASSERT_EQ(db.code, 0) << db.output;
    env_.push_back("ODBCSYSINI=" + dir_.path() + "/db");
    env_.push_back("ODBCINI=" + dir_.path() + "/db/odbc.ini");

    // The simulated relay gives code 1 one decimal and code 2 two: 12.5 fits
    // the first, not the second; neither is stored nor written.
    Result r = Host("settings -r 1 -z 1 --set '#1=12.5' --set '#2=12.5' --write --yes");
    EXPECT_EQ(r.code, 5) << r.output;
    EXPECT_NE(r.output.find("#2 "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("12.5 does not fit its slot of 3 digits with 2 decimals; the largest value that "
                            "fits is 9.99"), std::string::npos) << r.output;
    const size_t named = r.output.find("does not fit");
    EXPECT_EQ(r.output.find("does not fit", named + 1), std::string::npos) << r.output;  // #2 alone
    EXPECT_EQ(r.output.find("edited"), std::string::npos) << r.output;

    r = Host("--json settings -r 1 -z 1");
    ASSERT_EQ(r.code, 0) << r.output;
    const auto lines = JsonLines(r.output);
    ASSERT_EQ(lines.size(), 1u) << r.output;
    for (const auto& s : lines[0]["settings"]) {
        if (s["id"] == 1) {
            EXPECT_NE(s["value"].get<double>(), 12.5);
        } else if (s["id"] == 2) {
            EXPECT_NEAR(s["value"].get<double>(), 2.34, 1e-6);  // as the relay had it
        }
    }
}

TEST_F(HostAgainstSimulator, RecordingIsFetchedWrittenAndPlotted) {
    StartLine("--relays 1 --recording-samples 12", 1);
    WriteFile(dir_.path() + "/rec/通道配置文件.txt", "STATION\n1 Ia A L1 A 0.01 0 0 -32767 32767\n");
    const Result r = Host("record -r 1");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("12/12 samples"), std::string::npos) << r.output;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.output, m, std::regex("\n  (/[^\n]*\\.CFG)\n"))) << r.output;
    const std::string cfg = m[1];
    const std::string text = ReadFile(cfg);
    EXPECT_EQ(text.rfind("STATION,1\r\n18,16A,2D\r\n", 0), 0u) << text;
    EXPECT_FALSE(ReadFile(cfg.substr(0, cfg.size() - 4) + ".DAT").empty());

    const Result plot = RunTool(ToolPath("vorlan-host") + " plot " + Quote(cfg) + " -o " + Quote(dir_.path() + "/pic"));
    ASSERT_EQ(plot.code, 0) << plot.output;
    EXPECT_EQ(ReadFile(dir_.path() + "/pic.png").substr(1, 3), "PNG");
    EXPECT_NE(ReadFile(dir_.path() + "/pic.svg").find("<svg"), std::string::npos);

    const Result info = RunTool(ToolPath("vorlan-host") + " --json info " + Quote(cfg));
    ASSERT_EQ(info.code, 0) << info.output;
    const auto summary = nlohmann::json::parse(info.output);
    EXPECT_EQ(summary["station"], "STATION");
    EXPECT_EQ(summary["samples"], 12);
    ASSERT_EQ(summary["rates"].size(), 1u);
    const double rate = summary["rates"][0][0].get<double>();
    EXPECT_EQ(summary["rates"][0][1], 12);

    // The table reads back exactly the data file's values, scaled by the configuration's factors.
    const Result table = RunTool(ToolPath("vorlan-host") + " export --csv " + Quote(cfg));
    ASSERT_EQ(table.code, 0) << table.output;
    std::vector<double> a, b;
    std::istringstream cfgLines(text);
    std::string line;
    for (int n = 0; n < 2 + 16 && std::getline(cfgLines, line); ++n) {
        if (n < 2) continue;
        std::vector<std::string> f;
        std::istringstream fields(line.substr(0, line.size() - 1));
        for (std::string x; std::getline(fields, x, ',');) f.push_back(x);
        f.resize(10);
        a.push_back(f[5].empty() ? 1.0 : std::strtod(f[5].c_str(), nullptr));
        b.push_back(f[6].empty() ? 0.0 : std::strtod(f[6].c_str(), nullptr));
    }
    ASSERT_EQ(a.size(), 16u);
    EXPECT_EQ(a[0], 0.01);
    std::istringstream dat(ReadFile(cfg.substr(0, cfg.size() - 4) + ".DAT"));
    std::istringstream csv(table.output);
    std::string row;
    ASSERT_TRUE(std::getline(csv, row));
    EXPECT_EQ(row.rfind("time,Ia,", 0), 0u) << row;
    size_t samples = 0;
    while (std::getline(dat, line)) {
        ASSERT_TRUE(std::getline(csv, row)) << samples;
        std::vector<std::string> raw, got;
        std::istringstream r1(line.substr(0, line.size() - 1)), r2(row);
        for (std::string x; std::getline(r1, x, ',');) raw.push_back(x);
        for (std::string x; std::getline(r2, x, ',');) got.push_back(x);
        ASSERT_EQ(raw.size(), 20u);
        ASSERT_EQ(got.size(), 19u) << row;
        EXPECT_NEAR(std::strtod(got[0].c_str(), nullptr), static_cast<double>(samples) / rate, 1e-12);
        for (size_t j = 0; j < 16; ++j) {
            EXPECT_EQ(std::strtod(got[1 + j].c_str(), nullptr), a[j] * std::strtod(raw[2 + j].c_str(), nullptr) + b[j])
                << "sample " << samples << " channel " << j;
        }
        EXPECT_EQ(got[17], raw[18]);
        EXPECT_EQ(got[18], raw[19]);
        ++samples;
    }
    EXPECT_EQ(samples, 12u);
}

TEST_F(HostAgainstSimulator, MonitorPrintsTheTraceLinesWithTimestamps) {
    StartLine("--relays 1", 1);
    const std::string name = "vorlan-tools-monitor-" + std::to_string(getpid());
    Result monitor;
    std::thread listener([&] {
        monitor = RunTool(ToolPath("vorlan-host") + " monitor --name " + name + " -n 4 --seconds 30");
    });
    usleep(300 * 1000);
    env_.back() = "VORLAN_MONITOR=" + name;
    const Result poll = Host("poll -n 2 --trace");
    listener.join();
    EXPECT_EQ(poll.code, 0) << poll.output;
    EXPECT_EQ(monitor.code, 0) << monitor.output;
    EXPECT_TRUE(std::regex_search(monitor.output, std::regex("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} T=>01 83 00 30 F0 ")))
        << monitor.output;
    EXPECT_TRUE(std::regex_search(monitor.output, std::regex("\\d{3} R=>01 ")));
}

TEST(HostStationFile, MistakesGiveClearErrorsAndTheirExitCodes) {
    TempDir dir;
    const std::string station = dir.path() + "/s.toml";
    auto run = [&](const std::string& text, const std::string& command = "probe") {
        WriteFile(station, text);
        return RunTool(ToolPath("vorlan-host") + " -s " + Quote(station) + " " + command,
                       {"VORLAN_REGISTRY=" + dir.path() + "/none.ini"});
    };
    const std::string driver = "[driver]\nlibrary = \"" + LibraryPath() + "\"\n";
    SimulatorProcess sim("--relays 1");
    const std::string channel = "[channel]\nport = \"" + sim.path() + "\"\n";

    Result r = run("[channel\nport = 1\n");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.output.find("line 1"), std::string::npos) << r.output;
    r = run(driver + channel + "[[relay]]\naddress = 1\nspeed = 3\n");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.output.find("line 7: unknown key 'speed' in [[relay]]"), std::string::npos) << r.output;
    r = run(driver + channel + "[[relay]]\naddress = 1\nitems = [\"YC9-YC3\"]\n");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.output.find("runs backwards"), std::string::npos) << r.output;

    // The driver's own verdict, its GBK text shown as UTF-8.
    r = run(driver + channel + "[[relay]]\naddress = 1\nitems = [{ text = \"YC1\", type = \"bool\" }, \"XY1\"]\n",
            "poll -n 1");
    EXPECT_EQ(r.code, 5);
    EXPECT_NE(r.output.find("'YC1': 数据类型错误! (the data type does not suit the register"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("'XY1': 寄存器名字错误!"), std::string::npos) << r.output;

    r = run(driver + "[channel]\nport = \"/dev/vorlan-no-such-port\"\n[[relay]]\naddress = 1\n");
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.output.find("does not exist"), std::string::npos) << r.output;

    r = run(channel + "[[relay]]\naddress = 1\n");  // nothing registered, no library named
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.output.find("register the driver first"), std::string::npos) << r.output;
    r = run("[driver]\nlibrary = \"/nonexistent/libvorlan.so\"\n" + channel + "[[relay]]\naddress = 1\n");
    EXPECT_EQ(r.code, 3);
}

TEST(HostStationFile, RejectionsComeARangeToALineWithWhatTheRegisterTakes) {
    TempDir dir;
    SimulatorProcess sim("--relays 1,2,3");
    const std::string station = dir.path() + "/s.toml";
    std::string text = "[driver]\nlibrary = \"" + LibraryPath() + "\"\n[channel]\nport = \"" + sim.path() +
                       "\"\nbaud = 9601\n";
    for (int a = 1; a <= 3; ++a) text += "[[relay]]\naddress = " + std::to_string(a) + "\nitems = [\"YM1-YM40\"]\n";
    WriteFile(station, text);
    const Result r = RunTool(ToolPath("vorlan-host") + " -s " + Quote(station) + " poll -n 1");
    EXPECT_EQ(r.code, 5) << r.output;
    EXPECT_NE(r.output.find("the driver rejected 60 item(s):"), std::string::npos) << r.output;
    size_t lines = 0;
    for (size_t at = r.output.find("'YM21-YM40': "); at != std::string::npos;
         at = r.output.find("'YM21-YM40': ", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 3u) << r.output;
    EXPECT_NE(r.output.find("line 8, relay 1: 'YM21-YM40': "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("; YM takes 1..20"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("'YM22"), std::string::npos) << r.output;
    // The odd rate is taken, with a word about it.
    EXPECT_NE(r.output.find("s.toml: line 5: baud 9601 is not a standard rate"), std::string::npos) << r.output;
}

TEST(HostCommandLine, AnUnknownSubcommandIsNamedWithTheValidOnes) {
    for (const std::string arguments : {"frobnicate", "-s station.toml frobnicate --json"}) {
        const Result r = RunTool(ToolPath("vorlan-host") + " " + arguments);
        EXPECT_EQ(r.code, 2) << arguments;
        EXPECT_NE(r.output.find("'frobnicate' is not a subcommand; the subcommands are: poll, write, settings,"),
                  std::string::npos)
            << r.output;
        EXPECT_NE(r.output.find("channel-file"), std::string::npos) << r.output;
    }
    const Result none = RunTool(ToolPath("vorlan-host") + " --json");
    EXPECT_EQ(none.code, 2);
    EXPECT_NE(none.output.find("A subcommand is required"), std::string::npos) << none.output;
}

TEST(HostStationFile, BusyPortIsTold) {
    TempDir dir;
    SimulatorProcess sim("--relays 1");
    const std::string station = dir.path() + "/s.toml";
    WriteFile(station, "[driver]\nlibrary = \"" + LibraryPath() + "\"\n[channel]\nport = \"" + sim.path() +
                           "\"\n[[relay]]\naddress = 1\n");
    Result first;
    std::thread holder([&] {
        first = RunTool(ToolPath("vorlan-host") + " -s " + Quote(station) + " poll -n 8");
    });
    usleep(1000 * 1000);
    const Result second = RunTool(ToolPath("vorlan-host") + " -s " + Quote(station) + " probe");
    holder.join();
    EXPECT_EQ(first.code, 0) << first.output;
    EXPECT_EQ(second.code, 4) << second.output;
    EXPECT_NE(second.output.find("busy"), std::string::npos) << second.output;
}
