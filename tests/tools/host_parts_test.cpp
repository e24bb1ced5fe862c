// The host tool's parts on their own: item ranges, station files, the trace
// reassembly behind the progress bar, GBK texts, the COMTRADE reader.

#include <gtest/gtest.h>

#include "comtrade_reader.h"
#include "gbk_text.h"
#include "../../tools/host/monitor_listener.h"  // not the test support one of the same name
#include "station_file.h"
#include "tool_process.h"

using namespace vorlan_host;

TEST(ItemRanges, ExpandWithOrWithoutTheRegisterOnTheRightAndRefuseNonsense) {
    std::vector<std::string> out;
    EXPECT_EQ(ExpandItemRange("YC1-YC3", out), "");
    EXPECT_EQ(ExpandItemRange("BWYX10001-10002", out), "");
    EXPECT_EQ(ExpandItemRange("Send", out), "");
    EXPECT_EQ(out, (std::vector<std::string>{"YC1", "YC2", "YC3", "BWYX10001", "BWYX10002", "Send"}));
    EXPECT_NE(ExpandItemRange("YC1-YX3", out), "");
    EXPECT_NE(ExpandItemRange("YC-YC3", out), "");
    EXPECT_NE(ExpandItemRange("YC3-YC1", out), "");
    EXPECT_NE(ExpandItemRange("BWYX1-BWYX99999", out), "");  // more items than any register holds
    EXPECT_EQ(DefaultDataType("YC5"), kTypeFloat);
    EXPECT_EQ(DefaultDataType("  BWYX10001"), kTypeBool);
    EXPECT_EQ(DefaultDataType("LBTime2"), kTypeText);
    EXPECT_EQ(DefaultDataType("LBStart"), kTypeLong);
    EXPECT_EQ(DefaultDataType("DZWR"), kTypeByte);
}

TEST(StationFiles, AWholeStationAndTheMistakesThatMatter) {
    Station s;
    ASSERT_EQ(LoadStationText(R"(name = "S"
[channel]
port = "COM2"
baud = 19200
parity = "even"
stop_bits = 2
[[relay]]
address = 7
items = ["YC1-YC2", { text = "YX4", type = "long" }]
)",
                              s),
              "");
    EXPECT_EQ(s.channel.parity, 2);
    EXPECT_EQ(s.channel.stopBits, 2);
    ASSERT_EQ(s.relays.size(), 1u);
    EXPECT_EQ(s.relays[0].name, "relay 7");
    ASSERT_EQ(s.relays[0].items.size(), 3u);
    EXPECT_EQ(s.relays[0].items[2].dataType, kTypeLong);
    EXPECT_EQ(s.relays[0].items[2].line, 9);

    auto error = [](const std::string& text) {
        Station t;
        return LoadStationText(text, t);
    };
    EXPECT_EQ(error("[[relay]]\naddress = 1\n"), "the station file needs a [channel] table with the port");
    EXPECT_EQ(error("[channel]\nport = \"x\"\nbaud = 100\n[[relay]]\naddress = 1\n"),
              "line 1: baud must lie between 300 and 57600");
    EXPECT_EQ(error("[channel]\nport = \"x\"\n"), "the station file needs at least one [[relay]]");
    EXPECT_EQ(error("[channel]\nport = \"x\"\n[[relay]]\naddress = 1\n[[relay]]\naddress = 1\n"),
              "line 5: relay address 1 is given twice");
    EXPECT_EQ(error("[channel]\nport = \"x\"\n[[relay]]\naddress = 33\n"),
              "line 3: every relay needs an address from 0 to 32");
    // A long by-id name is taken: the session resolves it to its device.
    EXPECT_EQ(error("[channel]\nport = \"/dev/serial/by-id/usb-a-very-long-adapter-name\"\n[[relay]]\naddress = 1\n"), "");
    EXPECT_EQ(error("[channel]\nport = \"x\"\n[[relay]]\naddress = 1\nitems = [{ text = \"YC1\", type = \"double\" }]\n"),
              "line 5: item type must be bool, byte, long, float, text or a number");
}

TEST(TraceReassembly, LinesOfTheMonitorBecomeFramesAgain) {
    vorlan_host::TraceFrames f;
    EXPECT_TRUE(f.Add("T=>01 83 00 30 F0 "));
    EXPECT_EQ(f.direction(), 'T');
    EXPECT_EQ(f.bytes(), std::string("\x01\x83\x00\x30\xF0", 5));
    // A 40-byte answer arrives as two lines: 26 bytes, then three blanks and 14.
    std::string first = "R=>01 06 23", second = "   ";
    for (int i = 3; i < 26; ++i) first += " 00";
    for (int i = 26; i < 40; ++i) second += "00 ";
    EXPECT_FALSE(f.Add(first + " "));
    EXPECT_TRUE(f.Add(second));
    EXPECT_EQ(f.direction(), 'R');
    EXPECT_EQ(f.bytes().size(), 40u);
    EXPECT_FALSE(f.Add("   00 00"));   // a stray continuation after a complete frame
    EXPECT_FALSE(f.Add("hello"));
}

TEST(GbkTexts, TheDriversTextsConvertBothWays) {
    const std::string gbk = "\xCA\xFD\xBE\xDD\xC0\xE0\xD0\xCD\xB4\xED\xCE\xF3!";  // 数据类型错误!
    EXPECT_EQ(GbkToUtf8(gbk), "数据类型错误!");
    EXPECT_EQ(Utf8ToGbk("数据类型错误!"), gbk);
    EXPECT_FALSE(IsUtf8(gbk));
    EXPECT_TRUE(IsUtf8("plain ASCII"));
    EXPECT_EQ(ToUtf8("仿真"), "仿真");
    EXPECT_EQ(GbkToUtf8(std::string("A\xFF", 2)), "A?");  // not GBK: shown, not dropped
}

TEST(ComtradeReader, ReadsScaledChannelsAndRefusesShortFiles) {
    vorlan_tools_test::TempDir dir;
    const std::string base = dir.path() + "/r";
    std::string cfg = "ST,7\r\n3,2A,1D\r\n1,Ia,A,L,A,0.5,1,0,-1,1\r\n2,Ua,A,L,kV,,,,,\r\n1,Trip,0\r\n50\r\n1\r\n"
                      "1000,2\r\n01/02/2024,03:04:05.000000\r\n01/02/2024,03:04:05.010000\r\nASCII\r\n";
    vorlan_tools_test::WriteFile(base + ".CFG", cfg);
    vorlan_tools_test::WriteFile(base + ".DAT", "1,0,10,-5,0\r\n2,1000,-4,7,255\r\n");
    Comtrade r;
    ASSERT_EQ(ReadComtrade(base + ".CFG", r), "");
    EXPECT_EQ(r.station, "ST");
    ASSERT_EQ(r.analog.size(), 2u);
    ASSERT_EQ(r.samples.size(), 2u);
    EXPECT_DOUBLE_EQ(r.samples[0].analog[0], 6.0);   // 0.5 x 10 + 1
    EXPECT_DOUBLE_EQ(r.samples[1].analog[1], 7.0);   // no factors: raw
    EXPECT_EQ(r.samples[1].digital[0], 255);
    EXPECT_NEAR(r.TriggerOffsetSeconds(), 0.010, 1e-9);

    vorlan_tools_test::WriteFile(base + ".DAT", "1,0,10\r\n");
    Comtrade shortData;
    EXPECT_NE(ReadComtrade(base + ".CFG", shortData).find("expected 5 fields"), std::string::npos);
    Comtrade missing;
    EXPECT_NE(ReadComtrade(dir.path() + "/none.CFG", missing), "");
}
