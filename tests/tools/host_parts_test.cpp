// SPDX-License-Identifier: Apache-2.0
// The host tool's parts on their own: item ranges, station files, the trace
// reassembly behind the progress bar, GBK texts, the check of edited
// settings before a write.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cmath>

#include "gbk_text.h"
#include "../../tools/host/monitor_listener.h"  // not the test support one of the same name
#include "protocol/codecs.h"  // the driver's rule, to compare the tool's with
#include "setting_fit.h"
#include "port_name.h"
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
    // A whole float is a number like any other; one beyond the integers is refused, never cast.
    EXPECT_EQ(error("[channel]\nport = \"x\"\nbaud = 9600.0\n[[relay]]\naddress = 1\n"), "");
    for (const char* huge : {"9e60", "-3e9", "inf", "nan"}) {
        EXPECT_EQ(error("[channel]\nport = \"x\"\nbaud = " + std::string(huge) + "\n[[relay]]\naddress = 1\n"),
                  "line 3: 'baud' must be an integer")
            << huge;
    }
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

// The tool refuses exactly what the driver refuses: no write it starts is
// dropped unannounced, none it refuses would have gone out.
TEST(SettingFit, TheToolAndTheDriverAgreeOnWhatFits) {
    std::vector<float> values = {0.0f, 25.0f, -1.5f, 9.99f, 12.5f, 2.345f, 999.0f, 999.5f, 1000.0f,
                                 -1000.0f, 0.001f, 1e-8f, 3.4e38f, NAN, INFINITY, -INFINITY};
    for (int m = 0; m <= 1001; ++m) {
        for (int d = 0; d <= 7; ++d) {
            const float v = static_cast<float>(m / std::pow(10.0, d));
            values.push_back(v);
            values.push_back(-v);
            values.push_back(std::nextafter(v, 2e3f));  // one float off
        }
    }
    for (float v : values) {
        for (int d = 0; d <= 7; ++d) {
            for (int bytes : {1, 2}) {
                ASSERT_EQ(FitsPackedDecimal(v, d, bytes),
                          vorlan::SettingFitsBcd(v, static_cast<uint8_t>(d), static_cast<size_t>(bytes)))
                    << v << " d=" << d << " bytes=" << bytes;
            }
        }
    }
    EXPECT_TRUE(FitsPackedDecimal(9.99, 2));
    EXPECT_FALSE(FitsPackedDecimal(12.5, 2));
    EXPECT_FALSE(FitsPackedDecimal(1.0, 8));
    EXPECT_TRUE(FitsPackedDecimal(-0.9, 1, 1));
    EXPECT_FALSE(FitsPackedDecimal(12, 0, 1));
    EXPECT_DOUBLE_EQ(LargestPackedDecimal(2), 9.99);
    EXPECT_DOUBLE_EQ(LargestPackedDecimal(1, 1), 0.9);
}

TEST(SettingFit, UnfitValuesAreNamedWithTheirSlots) {
    // Coded list: code 3 with 2 decimals, code 4 in one byte, code 5 with 0
    // decimals and again (the write reloads the first), a float, then a
    // truncated entry.
    const std::string frame("\x01\xBD\x1B\x00\x1E\x00"
                            "\x03\x10\x34\x22"
                            "\x04\x08\x07"
                            "\x05\x10\x12\x00"
                            "\x05\x10\x12\x30"
                            "\x07\x22\x00\x00\x48\x41"
                            "\x06\x10\x01"
                            "\xAA\xBB", 32);  // the check bytes
    const std::map<int, CodedSlot> slots = CodedSlots(frame);
    ASSERT_EQ(slots.size(), 4u);
    EXPECT_EQ(SlotText(slots.at(3)), "2 decimals");
    EXPECT_EQ(SlotText(slots.at(4)), "1 digit, 0 decimals");
    EXPECT_EQ(SlotText(slots.at(5)), "0 decimals");
    EXPECT_EQ(SlotText(slots.at(7)), "float");

    std::vector<SettingRow> rows(5);
    rows[0].id = 3, rows[0].name = "a", rows[0].value = 12.5;   // a fourth digit
    rows[1].id = 4, rows[1].name = "b", rows[1].value = 1000;   // one digit only
    rows[2].id = 5, rows[2].name = "c", rows[2].value = 999;
    rows[3].coded = false, rows[3].id = 3, rows[3].value = 1e30;  // floats carry floats
    rows[4].id = 7, rows[4].value = 1e30;
    EXPECT_EQ(UnfitSettings(rows, slots),
              (std::vector<std::string>{"#3 a: 12.5 does not fit its slot of 3 digits with 2 decimals; "
                                        "the largest value that fits is 9.99",
                                        "#4 b: 1000 does not fit its slot of 1 digit with 0 decimals; "
                                        "the largest value that fits is 9"}));
    rows[1].value = -7;
    rows[2].value = -0.5;
    EXPECT_EQ(UnfitSettings(rows, slots).size(), 2u);
}

// The tool maps port names by the driver's own rule, so it resolves and
// reports the device the driver will open.
TEST(PortNames, TheToolMapsNamesAsTheDriverDoes) {
    EXPECT_EQ(vorlan_host::PortDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(vorlan_host::PortDevicePath("com3"), "/dev/ttyS2");
    EXPECT_EQ(vorlan_host::PortDevicePath("COM0"), "/dev/COM0");
    EXPECT_EQ(vorlan_host::PortDevicePath("COM3x"), "/dev/COM3x");
    EXPECT_EQ(vorlan_host::PortDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(vorlan_host::PortDevicePath("/dev/serial/by-id/usb-Maker_Adapter_A1B2C3-if00-port0"),
              "/dev/serial/by-id/usb-Maker_Adapter_A1B2C3-if00-port0");
}

// Joining a group is advised only where that group may open the device and
// is not root's; otherwise the tool says plainly who may.
TEST(PortPermissions, GroupAdvisedOnlyWhereAGroupMayOpenTheDevice) {
    using vorlan_host::PermissionAdvice;
    const std::string dialout = PermissionAdvice("/dev/ttyUSB0", S_IFCHR | 0660, "root", 20, "dialout");
    EXPECT_NE(dialout.find("add your user to the 'dialout' group"), std::string::npos) << dialout;

    const std::string pty = PermissionAdvice("/dev/pts/3", S_IFCHR | 0600, "root", 0, "root");
    EXPECT_EQ(pty.find("group (sudo"), std::string::npos) << pty;
    EXPECT_NE(pty.find("(crw------- root root): only root may open it, no group gives access"), std::string::npos)
        << pty;

    const std::string rootGroup = PermissionAdvice("/dev/ttyS0", S_IFCHR | 0660, "root", 0, "root");
    EXPECT_EQ(rootGroup.find("usermod"), std::string::npos) << rootGroup;
    EXPECT_NE(rootGroup.find("only root and the root group may open it"), std::string::npos) << rootGroup;

    EXPECT_EQ(vorlan_host::DriverReasonAsClause("The port /dev/x does not exist."), "the port /dev/x does not exist");
}
