// vorlan-host against vorlan-relaysim over a pseudo-terminal, both run as
// the built programs: polling, a remote control, settings on SQLite, a
// recording with its files and plot, the monitor, and station files with
// errors.

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "tool_process.h"

using namespace vorlan_tools_test;

namespace {

const char kItems[] = R"(items = ["YC1-YC4", "YX1-YX8", "YM1-YM2", "BWYX1-BWYX8", "BWYX10001-BWYX10008"])";

std::vector<nlohmann::json> JsonLines(const std::string& output) {
    std::vector<nlohmann::json> out;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '{') out.push_back(nlohmann::json::parse(line));
    }
    return out;
}

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
    std::string HostCommand(const std::string& arguments) const {
        return ToolPath("vorlan-host") + " -s " + Quote(station_) + " " + arguments;
    }
    Result Host(const std::string& arguments) { return RunTool(HostCommand(arguments), env_); }
    // On a terminal (script(1)), with `answer` typed to its question.
    Result HostOnTerminal(const std::string& arguments, const std::string& answer) {
        return RunTool("bash -c " + Quote("printf '" + answer + "\\n' | script -qec " + Quote(HostCommand(arguments)) +
                                          " /dev/null"),
                       env_);
    }
    void UseSettingDb() {
        const Result db =
            RunTool(std::string(VORLAN_SOURCE_DIR) + "/scripts/make-setting-db.sh " + Quote(dir_.path() + "/db"));
        ASSERT_EQ(db.code, 0) << db.output;
        env_.push_back("ODBCSYSINI=" + dir_.path() + "/db");
        env_.push_back("ODBCINI=" + dir_.path() + "/db/odbc.ini");
    }
    // The values of a zone's coded settings as the relay holds them, by code.
    std::map<int, double> CodedValues(int address, int zone) {
        const Result r = Host("--json settings -r " + std::to_string(address) + " -z " + std::to_string(zone));
        EXPECT_EQ(r.code, 0) << r.output;
        std::map<int, double> out;
        for (const auto& line : JsonLines(r.output)) {
            if (line["type"] != "settings") continue;
            for (const auto& s : line["settings"]) out[s["id"].get<int>()] = s["value"].get<double>();
        }
        return out;
    }

    TempDir dir_;
    std::unique_ptr<SimulatorProcess> sim_;
    std::string station_;
    std::vector<std::string> env_;
};

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
    UseSettingDb();
    const std::map<int, double> before = CodedValues(1, 1);
    ASSERT_EQ(before.size(), 13u);  // ten of three digits, three of one

    Result r = Host("settings -r 1 -z 1 --set '#1=12.5' --write --yes");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("电流速断时限"), std::string::npos) << r.output;  // names from the catalogue
    r = Host("--json settings -r 1 -z 1");
    ASSERT_EQ(r.code, 0) << r.output;
    const auto lines = JsonLines(r.output);
    ASSERT_EQ(lines.size(), 1u) << r.output;
    EXPECT_EQ(lines[0]["type"], "settings");
    EXPECT_EQ(lines[0]["relay_type"], 210);
    // The relay took the whole table, the one-digit settings as they were.
    std::map<int, double> after = CodedValues(1, 1);
    EXPECT_DOUBLE_EQ(after[1], 12.5);
    after[1] = before.at(1);
    EXPECT_EQ(after, before);

    // A one-digit setting edited within its digit.
    r = Host("settings -r 1 -z 1 --set '#12=-7' --write --yes");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_DOUBLE_EQ(CodedValues(1, 1)[12], -7.0);

    r = Host("settings -r 2 -z 0 --set 'v2=3.25' --write --yes");  // float layout
    ASSERT_EQ(r.code, 0) << r.output;
    r = Host("--json settings -r 2 -z 0");
    const auto floats = JsonLines(r.output);
    ASSERT_EQ(floats.size(), 1u) << r.output;
    EXPECT_DOUBLE_EQ(floats[0]["settings"][1]["value"].get<double>(), 3.25);

    r = Host("settings -r 1 -z 1 --set 'no such setting=1'");
    EXPECT_EQ(r.code, 2) << r.output;
}

TEST_F(HostAgainstSimulator, SettingsThatDoNotFitTheirSlotsAreNamedAndNothingIsWritten) {
    StartLine("--relays 1 --change-rate 0", 1);
    UseSettingDb();

    // The simulated relay gives code 1 one decimal and code 2 two: 12.5 fits
    // the first, not the second; code 10 holds one digit. Nothing is stored
    // nor written.
    Result r = Host("settings -r 1 -z 1 --set '#1=12.5' --set '#2=12.5' --set '#10=12' --write --yes");
    EXPECT_EQ(r.code, 5) << r.output;
    EXPECT_NE(r.output.find("#2 "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("12.5 does not fit its slot of 3 digits with 2 decimals; the largest value that "
                            "fits is 9.99"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("#10 重合闸次数: 12 does not fit its slot of 1 digit with 0 decimals; the largest value "
                            "that fits is 9"), std::string::npos) << r.output;
    const size_t named = r.output.find("does not fit");
    const size_t second = r.output.find("does not fit", named + 1);
    EXPECT_EQ(r.output.find("does not fit", second + 1), std::string::npos) << r.output;  // #2 and #10 alone
    EXPECT_EQ(r.output.find("edited"), std::string::npos) << r.output;

    const std::map<int, double> values = CodedValues(1, 1);
    EXPECT_NE(values.at(1), 12.5);
    EXPECT_NEAR(values.at(2), 2.34, 1e-6);  // as the relay had it
    EXPECT_NE(values.at(10), 12);
}

// A protection setting write shows what it changes before it asks, and asks
// nothing when nothing changes.
TEST_F(HostAgainstSimulator, SettingChangesAreShownBeforeTheQuestion) {
    StartLine("--relays 1 --change-rate 0", 1);
    UseSettingDb();
    const std::map<int, double> before = CodedValues(1, 1);
    char old4[32];
    std::snprintf(old4, sizeof old4, "%g", before.at(4));

    Result r = HostOnTerminal("settings -r 1 -z 1 --set '#4=25.5' --set '#11=0.7' --write", "n");
    EXPECT_EQ(r.code, 1) << r.output;
    const size_t change = r.output.find(std::string("#4 零序过流定值 ") + old4 + " -> 25.5 (slot: 1 decimal)");
    const size_t digit = r.output.find("#11 过负荷返回系数 0 -> 0.7 (slot: 1 digit, 1 decimal)");
    const size_t question = r.output.find("Go ahead? [y/N]");
    ASSERT_NE(change, std::string::npos) << r.output;
    ASSERT_NE(digit, std::string::npos) << r.output;
    ASSERT_NE(question, std::string::npos) << r.output;
    EXPECT_LT(change, question);
    EXPECT_LT(digit, question);
    EXPECT_NE(r.output.find("not confirmed: nothing was sent"), std::string::npos) << r.output;
    EXPECT_EQ(CodedValues(1, 1), before);  // neither stored nor written

    r = HostOnTerminal("settings -r 1 -z 1 --set '#4=25.5' --write", "y");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_LT(r.output.find("-> 25.5"), r.output.find("Go ahead?")) << r.output;
    EXPECT_DOUBLE_EQ(CodedValues(1, 1)[4], 25.5);

    // The value it already has, or no edit: nothing to ask, nothing written.
    for (const char* edits : {"--set '#4=25.5'", "--set '#4=1' --set '#4=25.5'", ""}) {
        r = Host(std::string("settings -r 1 -z 1 ") + edits + " --write");
        EXPECT_EQ(r.code, 0) << r.output;
        EXPECT_NE(r.output.find("nothing changed in zone 1 of relay 1: nothing written"), std::string::npos)
            << r.output;
        EXPECT_EQ(r.output.find("About to"), std::string::npos) << r.output;
    }

    // The same as JSON objects.
    r = Host("--json settings -r 1 -z 1 --set '#4=30' --set '#2=2.5'");
    EXPECT_EQ(r.code, 0) << r.output;
    std::vector<nlohmann::json> changes;
    for (const auto& j : JsonLines(r.output)) {
        if (j["type"] == "change") changes.push_back(j);
    }
    ASSERT_EQ(changes.size(), 2u) << r.output;
    EXPECT_EQ(changes[0]["setting"], "#4");
    EXPECT_EQ(changes[0]["name"], "零序过流定值");
    EXPECT_EQ(changes[0]["old"], 25.5);
    EXPECT_EQ(changes[0]["new"], 30.0);
    EXPECT_EQ(changes[0]["slot"], (nlohmann::json{{"layout", "packed decimal"}, {"bytes", 2}, {"decimals", 1}}));
    EXPECT_EQ(changes[1]["old"], 2.34);  // as the relay's value reads, not 2.3399999
    r = Host("--json settings -r 1 -z 1 --set '#4=25.5'");  // the relay still holds 25.5
    bool unchanged = false;
    for (const auto& j : JsonLines(r.output)) unchanged = unchanged || j["type"] == "unchanged";
    EXPECT_TRUE(unchanged) << r.output;
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
    EXPECT_EQ(row.rfind("time_s,Ia_A,", 0), 0u) << row;
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
            EXPECT_NEAR(std::strtod(got[1 + j].c_str(), nullptr), a[j] * std::strtod(raw[2 + j].c_str(), nullptr) + b[j],
                        1e-9)
                << "sample " << samples << " channel " << j;
        }
        EXPECT_EQ(got[17], raw[18]);
        EXPECT_EQ(got[18], raw[19]);
        ++samples;
    }
    EXPECT_EQ(samples, 12u);

    // The analysis reads the driver's own files: every analog channel, and
    // the status words' bits.
    const Result analysis = RunTool(ToolPath("vorlan-host") + " --json analyse --freq 50 " + Quote(cfg));
    ASSERT_EQ(analysis.code, 0) << analysis.output;
    const auto found = nlohmann::json::parse(analysis.output);
    EXPECT_EQ(found["channels"].size(), 16u);
    EXPECT_EQ(found["reference"], "Ia");
    EXPECT_EQ(found["series"]["channels"].size(), 16u);
    for (const auto& d : found["digital"]) EXPECT_FALSE(d["name"].get<std::string>().empty()) << analysis.output;
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
    // The driver's reason: the holder by PID and name, from its lock file.
    EXPECT_NE(second.output.find("is in use by process "), std::string::npos) << second.output;
    EXPECT_NE(second.output.find(" (vorlan-host), which holds the lock file "), std::string::npos) << second.output;
}
