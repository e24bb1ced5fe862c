// SPDX-License-Identifier: Apache-2.0
// The host tool's own judgements: GBK or not, a relay's state from the
// driver's counts, lines cut to a terminal's width, the channel file
// template as the driver's reader takes it.

#include <gtest/gtest.h>

#include "faultrec/channel_table.h"
#include "gbk_text.h"
#include "item_explanation.h"
#include "recording_place.h"
#include "relay_health.h"
#include "screen_text.h"
#include "tool_process.h"

using namespace vorlan_host;

TEST(ChannelFileText, GbkIsTakenAndUtf8OrBrokenBytesAreNamed) {
    EXPECT_EQ(GbkTextProblem("STATION 1 Ia A L1 A 0.01 0 0 -32767 32767\n"), "");
    EXPECT_EQ(GbkTextProblem(Utf8ToGbk("仿真变电站 1 Ia A 10kV出线1 A 0.01")), "");
    EXPECT_EQ(GbkTextProblem("仿真变电站 1 Ia"), "it is UTF-8 text, not GBK");
    EXPECT_NE(GbkTextProblem("AB\xB1"), "");          // a lead byte at the end
    EXPECT_NE(GbkTextProblem("AB\xB1\x20 C"), "");    // a lead byte before a blank
    EXPECT_NE(GbkTextProblem("\xFF\xA1"), "");
    EXPECT_EQ(CountTokens("  a\tb\r\nc  "), 3u);
}

TEST(ChannelFileText, TheTemplateIsReadByTheDriverAsEveryToken) {
    vorlan_tools_test::TempDir dir;
    const auto r = vorlan_tools_test::RunTool(vorlan_tools_test::ToolPath("vorlan-host") + " channel-file --init " +
                                              vorlan_tools_test::Quote(dir.path()));
    ASSERT_EQ(r.code, 0) << r.output;
    const std::string path = dir.path() + "/通道配置文件.txt";
    const std::string bytes = vorlan_tools_test::ReadFile(path);
    EXPECT_EQ(GbkTextProblem(bytes), "");
    EXPECT_EQ(CountTokens(bytes), kChannelFileTokens);
    vorlan::ChannelTable table;
    ASSERT_TRUE(vorlan::ReadChannelTable(path, table));
    EXPECT_EQ(GbkToUtf8(table.station), "变电站名称");
    EXPECT_EQ(table.analog[0][1], "Ia");
    EXPECT_EQ(table.analog[15][0], "16");
    EXPECT_EQ(table.analog[15][9], "32767");
    EXPECT_EQ(table.digital[1][0], "2");
    EXPECT_EQ(table.digital[1][2], "0");
    // Not replaced by accident; --check takes it.
    EXPECT_EQ(vorlan_tools_test::RunTool(vorlan_tools_test::ToolPath("vorlan-host") + " channel-file --init " +
                                         vorlan_tools_test::Quote(dir.path()))
                  .code,
              7);
    const auto check = vorlan_tools_test::RunTool(vorlan_tools_test::ToolPath("vorlan-host") +
                                                  " channel-file --check " + vorlan_tools_test::Quote(dir.path()));
    EXPECT_EQ(check.code, 0) << check.output;
    EXPECT_NE(check.output.find("167 tokens"), std::string::npos) << check.output;
}

TEST(ChannelFileText, AMissingOrExtraTokenIsFoundAtItsLine) {
    vorlan_tools_test::TempDir dir;
    ASSERT_EQ(vorlan_tools_test::RunTool(vorlan_tools_test::ToolPath("vorlan-host") + " channel-file --init " +
                                         vorlan_tools_test::Quote(dir.path()))
                  .code,
              0);
    const std::string path = dir.path() + "/通道配置文件.txt";
    const std::string good = vorlan_tools_test::ReadFile(path);
    EXPECT_EQ(ChannelFileProblem(good), "");
    // Lines: 1 the station, 2..17 the analog rows, 18..19 the digital rows.
    auto withLine = [&](int line, const std::string& replacement) {
        std::string text = good;
        size_t at = 0;
        for (int i = 1; i < line; ++i) at = text.find('\n', at) + 1;
        text.replace(at, text.find('\n', at) - at, Utf8ToGbk(replacement));
        return text;
    };
    // A row to a line, as written: the line whose count is off. The phase of
    // analog channel 5 left out, an extra token in a digital row.
    const std::string missingPhase = withLine(6, "5  Ua  母线  kV  0.0006  0  0  -32767  32767");
    EXPECT_EQ(ChannelFileProblem(missingPhase).substr(0, 43), "line 6: 9 tokens where analog channel 5 nee");
    std::string p = ChannelFileProblem(withLine(18, "1  保护 动作  0"));
    EXPECT_EQ(p.rfind("line 18: 4 tokens where digital channel 1 needs 3 (index, identifier, normal state)", 0), 0u)
        << p;
    // Tokens in another layout: the first that can't be its field.
    std::string flat = missingPhase;
    for (char& c : flat) c = c == '\n' ? ' ' : c;
    p = ChannelFileProblem("STATION\n" + flat.substr(flat.find(' ')));
    EXPECT_NE(p.find("line 2: 'Ub' stands where the analog channel 6, index (the number 6) belongs"),
              std::string::npos)
        << p;
    p = ChannelFileProblem(withLine(3, "2  Ib  B  线路1  A  0,01  0  0  -32767  32767"));
    EXPECT_NE(p.find("line 3: '0,01' stands where the analog channel 2, multiplier a"), std::string::npos) << p;
    p = ChannelFileProblem(withLine(19, ""));
    EXPECT_NE(p.find("line 18: the file ends after 164 of 167 tokens, before the digital channel 2, index"),
              std::string::npos)
        << p;
    // Line breaks mean nothing to the driver: the good tokens on one line pass.
    std::string oneLine = good;
    for (char& c : oneLine) c = c == '\n' ? ' ' : c;
    EXPECT_EQ(ChannelFileProblem(oneLine), "");

    // --check fails on it with the line, where it used to pass.
    vorlan_tools_test::WriteFile(path, missingPhase);
    const auto check = vorlan_tools_test::RunTool(vorlan_tools_test::ToolPath("vorlan-host") +
                                                  " channel-file --check " + vorlan_tools_test::Quote(dir.path()));
    EXPECT_EQ(check.code, 7) << check.output;
    EXPECT_NE(check.output.find("通道配置文件.txt: line 6: "), std::string::npos) << check.output;
}

TEST(ItemRejections, ARunOfAddressesWithOneReasonIsOneLine) {
    RejectionList list;
    for (int n = 21; n <= 40; ++n) list.Add("line 4, feeder", "YM" + std::to_string(n), "out of range", "YM takes 1..20");
    list.Add("line 4, feeder", "YM42", "out of range", "YM takes 1..20");   // a gap starts another
    list.Add("line 5, feeder", "YM43", "out of range", "YM takes 1..20");   // so does another line
    list.Add("line 5, feeder", "YC1", "bad type", "");
    list.Add("line 5, feeder", "YC2", "other reason", "");                 // and another reason
    list.Add("line 5, feeder", "Send", "bad type", "");
    EXPECT_EQ(list.items(), 25u);
    EXPECT_EQ(list.Text(10),
              "\n  line 4, feeder: 'YM21-YM40': out of range; YM takes 1..20"
              "\n  line 4, feeder: 'YM42': out of range; YM takes 1..20"
              "\n  line 5, feeder: 'YM43': out of range; YM takes 1..20"
              "\n  line 5, feeder: 'YC1': bad type"
              "\n  line 5, feeder: 'YC2': other reason"
              "\n  line 5, feeder: 'Send': bad type");
    // Past the lines shown, the items left are counted, not the lines.
    EXPECT_EQ(list.Text(1).substr(list.Text(1).find("...")), "... and 5 more item(s)");
}

TEST(RelayHealthState, FromTheDriversCounts) {
    VorlanRelayStats s{};
    s.requestsSent = 4;
    s.timeouts = 4;
    s.consecutiveFailures = 4;
    EXPECT_EQ(HealthOf(true, s).state, RelayState::NoAnswer);  // never answered, however long
    s.answersTaken = 1;
    s.lastAnswer.lowDateTime = 1;
    s.lastAnswer.highDateTime = 30000000;
    EXPECT_EQ(HealthOf(true, s).state, RelayState::Stale);
    s.consecutiveFailures = kStaleAfterFailures - 1;
    EXPECT_EQ(HealthOf(true, s).state, RelayState::Ok);
    EXPECT_EQ(HealthOf(false, VorlanRelayStats{}).state, RelayState::Ok);  // a driver without statistics hides nothing
    EXPECT_EQ(HealthJson(HealthOf(true, s))["state"], "ok");
    EXPECT_TRUE(HealthJson(HealthOf(true, VorlanRelayStats{}))["last_answer"].is_null());
}

TEST(RelayHealthState, BackedOffRelayShowsItsRetryInterval) {
    VorlanRelayStats s{};
    s.requestsSent = 5;
    s.consecutiveFailures = 5;
    s.inBackoff = 1;
    s.retryIntervalMs = 4000;
    s.nextRetryInMs = 2500;
    EXPECT_EQ(StateText(HealthOf(true, s)), "no answer yet, retrying every 4 s");
    const nlohmann::json j = HealthJson(HealthOf(true, s));
    EXPECT_EQ(j["backoff"], true);
    EXPECT_EQ(j["retry_interval_ms"], 4000);
    EXPECT_EQ(j["next_retry_in_ms"], 2500);
    s.inBackoff = 0;
    EXPECT_EQ(StateText(HealthOf(true, s)), "no answer yet");
}

TEST(ScreenText, LinesAreCutToTheColumnsTheyTake) {
    EXPECT_EQ(FitWidth("abcdef", 4), "abcd");
    EXPECT_EQ(FitWidth("出线1号", 5), "出线1");   // two columns per character
    EXPECT_EQ(FitWidth("出线", 3), "出");         // never half a character
    EXPECT_EQ(FitWidth("short", 80), "short");
}
