// The host tool's own judgements: GBK or not, a relay's state from the
// driver's counts, lines cut to a terminal's width, the channel file
// template as the driver's reader takes it.

#include <gtest/gtest.h>

#include "faultrec/channel_table.h"
#include "gbk_text.h"
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

TEST(ScreenText, LinesAreCutToTheColumnsTheyTake) {
    EXPECT_EQ(FitWidth("abcdef", 4), "abcd");
    EXPECT_EQ(FitWidth("出线1号", 5), "出线1");   // two columns per character
    EXPECT_EQ(FitWidth("出线", 3), "出");         // never half a character
    EXPECT_EQ(FitWidth("short", 80), "short");
}
