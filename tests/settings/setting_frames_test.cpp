// What the setting answers put into the device record, with no database:
// the walk of a coded list, the counts of a float layout and their limits.
#include <gtest/gtest.h>

#include "hex.h"
#include "model/frame.h"
#include "protocol/request_builder.h"
#include "settings/recordset.h"
#include "settings/setting_db.h"
#include "settings/setting_service.h"

namespace vorlan_test {
namespace {

class SettingFramesTest : public ::testing::Test {
protected:
    void Store(const std::vector<uint8_t>& frame) {
        const vorlan::ByteView view(frame.data(), frame.size());
        if (frame[1] == 0xBD) {
            service.StoreCodedSettings(relay, view);
        } else {
            service.StoreSettingValues(relay, view);
        }
    }
    vorlan::SettingService service;  // never connected
    vorlan::DeviceRecord relay;
};

TEST_F(SettingFramesTest, AnEntryRunningPastThePayloadEndsTheWalk) {
    // The second entry says 4 value bytes but only 2 remain before the CRC.
    std::vector<uint8_t> frame = CodedListFrame(1, 9, Hex("03 10 50 12  04 20 11 22"));
    Store(frame);
    EXPECT_EQ(relay.settings.settingCount, 1);
    EXPECT_EQ(relay.settings.settingCode[0], 3);
    EXPECT_EQ(relay.settings.settingCode[1], 0);

    // A lone code byte at the end is no entry either.
    Store(CodedListFrame(1, 9, Hex("03 10 50 12  07")));
    EXPECT_EQ(relay.settings.settingCount, 1);
}

TEST_F(SettingFramesTest, FloatEntriesTakeTheirCountedSlotAndOtherKindsAreSkipped) {
    Store(CodedListFrame(1, 9, Hex(
        "10 2B 00 00 48 41 AA "   // code 0x10, kind 3, 5 bytes: skipped
        "11 22 00 00 48 41 "      // code 0x11, kind 2, 4 bytes: 12.5
        "12 12 00 00 "            // code 0x12, kind 2, only 2 bytes: skipped, no slot
        "FF 90 50 12")));         // code 0xFF, kind 0: the second slot, not slot 255
    EXPECT_EQ(relay.settings.settingCount, 2);
    EXPECT_EQ(relay.settings.settingCode[0], 0x11);
    EXPECT_FLOAT_EQ(relay.settings.settingValue[0], 12.5f);
    EXPECT_EQ(relay.settings.settingLength[0], 4);
    EXPECT_EQ(relay.settings.settingFlag[0], 1);
    EXPECT_EQ(relay.settings.settingDecimals[0], 0);
    EXPECT_EQ(relay.settings.settingCode[1], 0xFF);
    EXPECT_FLOAT_EQ(relay.settings.settingValue[1], 25.0f);
    EXPECT_EQ(relay.settings.settingFlag[1], 0);
}

TEST_F(SettingFramesTest, ShortAnswersChangeOnlyTheLayoutTypeAndCodes) {
    relay.settings.settingCount = 4;
    relay.settings.settingCode[2] = 7;
    relay.settings.settingState = 0;
    Store(MakeFrame(1, 0xBD, Hex("00 15 00 01 10 50")));  // N = 6
    EXPECT_EQ(relay.settings.settingAnswerCode, 0xBD);
    EXPECT_EQ(relay.settings.rtuType, 210);
    EXPECT_EQ(relay.settings.settingCode[2], 0);
    EXPECT_EQ(relay.settings.settingCount, 4);
    EXPECT_EQ(relay.settings.settingState, 0);

    // A float layout from the same relay keeps type 21 as it is.
    Store(MakeFrame(1, 0xAD, Hex("00 15 00 00 00 00")));
    EXPECT_EQ(relay.settings.settingAnswerCode, 0xAD);
    EXPECT_EQ(relay.settings.rtuType, 21);
    EXPECT_EQ(relay.settings.settingCount, 4);
}

TEST_F(SettingFramesTest, FloatCountsAreTakenOnlyAsFarAsThePayloadHoldsThem) {
    // F says 10 but two values arrived; B's bytes would follow all ten.
    Store(MakeFrame(1, 0xAD, Hex("00 1F 00 0A 03  00 00 80 3F  00 00 48 41  05")));
    EXPECT_EQ(relay.settings.settingCount, 2);
    EXPECT_EQ(relay.settings.settingByteCount, 0);
    EXPECT_FLOAT_EQ(relay.settings.settingValue[1], 12.5f);

    // B says 3 with one byte present.
    Store(MakeFrame(1, 0xAD, Hex("00 1F 00 01 03  00 00 80 3F  05")));
    EXPECT_EQ(relay.settings.settingCount, 1);
    EXPECT_EQ(relay.settings.settingByteCount, 1);
    EXPECT_EQ(relay.settings.settingFlag[0], 5);
    EXPECT_EQ(relay.settings.settingState, 1);
}

// Read, then written back unedited: codes, descriptors and values of one-
// and two-byte entries are what the relay sent, byte for byte.
TEST_F(SettingFramesTest, AnUneditedCodedListGoesBackByteForByte) {
    const std::string entries =
        "05 10 50 12 "   // two bytes: 25.0
        "06 08 15 "      // one byte: 0.5
        "07 88 09 "      // one byte, setting off: 9
        "08 08 87 "      // one byte: -7
        "09 08 80 "      // one byte: -0
        "0A 90 15 90";   // two bytes, setting off: -1.5
    Store(CodedListFrame(1, 21, Hex(entries)));
    ASSERT_EQ(relay.settings.settingCount, 6);
    EXPECT_EQ(relay.settings.settingValue[1], 0.5f);
    EXPECT_EQ(relay.settings.settingValue[3], -7.0f);

    vorlan::PollingState state;
    state.deviceCount = 1;
    state.devices[0].address = 1;
    state.devices[0].settings = relay.settings;
    state.devices[0].settings.settingZone = 1;
    uint8_t frame[vorlan::kPacketFrameBuffer] = {};
    const int32_t length = vorlan::BuildSettingWrite(state, frame, sizeof frame);
    EXPECT_EQ(ToHex(frame, static_cast<size_t>(length)), ToHex(WithCrc("01 8C 16 00 01 " + entries)));
}

TEST(QuoteBracketedNamesTest, BracketsBecomeTheSourcesQuotes) {
    EXPECT_EQ(vorlan::QuoteBracketedNames("[group] = ? AND [type] = ?", "\""),
              "\"group\" = ? AND \"type\" = ?");
    EXPECT_EQ(vorlan::QuoteBracketedNames("[RelayName]", ""), "RelayName");
    EXPECT_EQ(vorlan::QuoteBracketedNames("a [b", "`"), "a [b");
}

}  // namespace
}  // namespace vorlan_test
