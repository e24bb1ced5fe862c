#pragma once
// The setting database cases, the same on every database: included by the
// SQLite tests (test_settings) and the PostgreSQL tests (test_settings_pg),
// each of which defines MakeTestDb().

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "fake_clock.h"
#include "hex.h"
#include "component/relay_driver.h"
#include "test_packet.h"
#include "model/frame.h"
#include "protocol/request_builder.h"
#include "settings/db_message.h"
#include "settings/setting_db.h"
#include "settings/setting_service.h"
#include "frame_calls.h"

namespace vorlan_test {

// The database for one test, or null with `skipReason` set.
std::unique_ptr<TestSettingDb> MakeTestDb(std::string& skipReason);

// Everything written to standard error while it lives.
class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        saved_ = dup(2);
        file_ = std::tmpfile();
        dup2(fileno(file_), 2);
    }
    ~StderrCapture() { Restore(); }
    std::string Text() {
        Restore();
        std::rewind(file_);
        std::string text;
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
        return text;
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }
    int saved_ = -1;
    std::FILE* file_ = nullptr;
};

class SettingDbTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        db = MakeTestDb(reason);
        if (!db) GTEST_SKIP() << reason;
    }

    // Creates the database and connects the service to it.
    void Connect(bool withSettingTable = true) {
        db->Create(withSettingTable);
        StderrCapture capture;
        service.ConnectSettingDb();
        message = capture.Text();
    }

    // The coded rows of `type` as "code|name|value|flag|group|number", by code.
    std::vector<std::string> CodedRows(int type) {
        std::vector<std::string> out;
        for (auto& r : db->Query("SELECT \"code\", \"name\", \"value\", \"flag\", \"group\", \"number\" "
                                 "FROM \"RelayDevSet\" WHERE \"type\" = " + std::to_string(type) +
                                 " ORDER BY \"code\"")) {
            out.push_back(r[0] + "|" + r[1] + "|" + Number(r[2]) + "|" + r[3] + "|" + r[4] + "|" + r[5]);
        }
        return out;
    }
    // The catalogue's Value of (type, kind, id), or "<null>".
    std::string PointValue(int type, int kind, int id) {
        auto rows = db->Query("SELECT \"Value\" FROM \"RelayName\" WHERE \"RtuType\" = " +
                              std::to_string(type) + " AND \"RelayType\" = " + std::to_string(kind) +
                              " AND \"RelayID\" = " + std::to_string(id));
        if (rows.size() != 1) return "rows: " + std::to_string(rows.size());
        return Number(rows[0][0]);
    }
    // Float text as a short number, so "12.5" and "12.500000" compare equal.
    static std::string Number(const std::string& text) {
        if (text == "<null>") return text;
        char out[32];
        std::snprintf(out, sizeof out, "%g", std::strtod(text.c_str(), nullptr));
        return out;
    }

    void Store(const std::vector<uint8_t>& frame) {
        if (frame[1] == 0xBD) {
            service.StoreCodedSettings(relay, vorlan::ByteView(frame.data(), frame.size()));
        } else {
            service.StoreSettingValues(relay, vorlan::ByteView(frame.data(), frame.size()));
        }
    }

    // The 0x8C frame that the request builder makes for `relay` now.
    std::string WriteFrame(uint8_t zone) {
        vorlan::PollingState state;
        state.deviceCount = 1;
        state.devices[0].conversation = relay.conversation;
        state.devices[0].settings = relay.settings;
        state.devices[0].address = 1;
        state.devices[0].settings.settingZone = zone;
        uint8_t frame[vorlan::kPacketFrameBuffer] = {};
        const int32_t length = vorlan::BuildSettingWrite(state, frame, sizeof frame);
        return ToHex(frame, static_cast<size_t>(length));
    }

    std::unique_ptr<TestSettingDb> db;
    vorlan::SettingService service;  // after db: released before the database goes
    vorlan::DeviceRecord relay;
    std::string message;
};

// Coded list entries: code, descriptor, value bytes.
const std::vector<uint8_t> kThreeEntries = Hex(
    "00 10 50 12 "   // code 0, kind 0, 2 bytes, flag bit clear: 25.0, 1 decimal
    "01 90 15 90 "   // code 1, flag bit set: -1.5, 1 decimal
    "02 08 07");     // code 2, 1 byte: 7

TEST_F(SettingDbTest, CodedListOfType21IsStoredAs210AndReplacesTheEarlierRows) {
    Connect();
    EXPECT_EQ(message, "");
    db->AddPoint(210, 1, 1, Gbk("电流速断定值"), 0);
    db->AddPoint(210, 1, 2, Gbk("电流速断时限"), 0);
    db->AddPoint(210, 1, 3, Gbk("过电流定值"), 0);
    db->AddPoint(21, 1, 1, Gbk("不是这个类型"), 0);  // type 21 is looked up as 210
    db->AddCodedRow(210, 2, 7, "old", 1.0, 1);
    db->AddCodedRow(31, 2, 0, "other type", 5.0, 0);

    Store(CodedListFrame(1, 21, kThreeEntries));

    EXPECT_EQ(relay.settings.rtuType, 210);
    EXPECT_EQ(relay.settings.settingAnswerCode, 0xBD);
    EXPECT_EQ(relay.settings.settingCount, 3);
    EXPECT_EQ(relay.settings.settingByteCount, 0);
    EXPECT_EQ(relay.settings.settingState, 1);
    EXPECT_FLOAT_EQ(relay.settings.settingValue[0], 25.0f);
    EXPECT_FLOAT_EQ(relay.settings.settingValue[1], -1.5f);
    EXPECT_FLOAT_EQ(relay.settings.settingValue[2], 7.0f);
    // Descriptor 0x10 (bit 7 clear) gives flag 1, 0x90 (bit 7 set) flag 0.
    EXPECT_EQ(relay.settings.settingFlag[0], 1);
    EXPECT_EQ(relay.settings.settingFlag[1], 0);
    EXPECT_EQ(relay.settings.settingDecimals[0], 1);
    EXPECT_EQ(relay.settings.settingLength[2], 1);
    EXPECT_EQ(relay.settings.settingDescriptor[1], 0x90);

    EXPECT_EQ(CodedRows(210), (std::vector<std::string>{
                                  "0|" + Gbk("电流速断定值") + "|25|1|2|0",
                                  "1|" + Gbk("电流速断时限") + "|-1.5|0|2|0",
                                  "2|" + Gbk("过电流定值") + "|7|1|2|0"}));
    EXPECT_EQ(CodedRows(31), (std::vector<std::string>{"0|other type|5|0|2|0"}));
    EXPECT_EQ(service.Status().failedWork, 0) << service.Status().lastError;
}

TEST_F(SettingDbTest, EveryCatalogueRowIsVisitedAfterAMatch) {
    Connect();
    // Codes 5, 1 and 9 against numeric points 2 and 6, next to each other.
    db->AddPoint(50, 1, 2, Gbk("二号"), 0);
    db->AddPoint(50, 1, 6, Gbk("六号"), 0);
    db->AddPoint(50, 2, 10, Gbk("字节点不命名代码"), 0);
    Store(CodedListFrame(1, 50, Hex("05 10 50 12  01 10 50 12  09 10 50 12")));

    EXPECT_EQ(relay.settings.settingCount, 3);
    EXPECT_EQ(CodedRows(50), (std::vector<std::string>{"1|" + Gbk("二号") + "|25|1|2|0",
                                                       "5|" + Gbk("六号") + "|25|1|2|0"}));
}

TEST_F(SettingDbTest, FloatLayoutUpdatesTheNamedPointsOnly) {
    Connect();
    db->AddPoint(31, 1, 1, "f1", 0.1);  // a value the driver reads back in float precision
    db->Exec("INSERT INTO \"RelayName\" VALUES (NULL, NULL, 31, 1, 2, 'f2')");  // NULLs address too
    db->AddPoint(31, 2, 1, "b1", 0);
    db->AddPoint(31, 1, 3, "f3", 7.5);  // beyond F
    db->AddPoint(41, 1, 1, "other type", 3.0);

    Store(FloatLayoutFrame(1, 31, {12.5f, -0.25f}, {1}));

    EXPECT_EQ(relay.settings.rtuType, 31);
    EXPECT_EQ(relay.settings.settingAnswerCode, 0xAD);
    EXPECT_EQ(relay.settings.settingCount, 2);
    EXPECT_EQ(relay.settings.settingByteCount, 1);
    EXPECT_EQ(relay.settings.settingState, 1);
    EXPECT_FLOAT_EQ(relay.settings.settingValue[1], -0.25f);
    EXPECT_EQ(relay.settings.settingFlag[0], 1);
    EXPECT_EQ(PointValue(31, 1, 1), "12.5");
    EXPECT_EQ(PointValue(31, 1, 2), "-0.25");
    EXPECT_EQ(PointValue(31, 2, 1), "1");
    EXPECT_EQ(PointValue(31, 1, 3), "7.5");
    EXPECT_EQ(PointValue(41, 1, 1), "3");
    EXPECT_EQ(service.Status().failedWork, 0) << service.Status().lastError;
}

TEST_F(SettingDbTest, CodedReloadTakesTheEditedValuesIntoTheWrite) {
    Connect();
    db->AddPoint(210, 1, 1, "a", 0);
    db->AddPoint(210, 1, 2, "b", 0);
    Store(CodedListFrame(1, 21, Hex("00 10 50 12  01 90 15 90")));
    // The operator edits code 0; a row of another group is not a setting.
    db->Exec("UPDATE \"RelayDevSet\" SET \"value\" = 30.5, \"flag\" = 0 WHERE \"code\" = 0");
    db->AddCodedRow(210, 1, 1, "group 1", 99.0, 1);

    relay.settings.settingState = 2;  // as the DZWR write sets it
    service.LoadSettingsForWrite(relay);

    EXPECT_FLOAT_EQ(relay.settings.settingValue[0], 30.5f);
    EXPECT_EQ(relay.settings.settingFlag[0], 0);
    EXPECT_FLOAT_EQ(relay.settings.settingValue[1], -1.5f);
    // Flag 0 sets descriptor bit 7; 30.5 with 1 decimal is 05 13.
    EXPECT_EQ(WriteFrame(3), ToHex(WithCrc("01 8C 0A 00 03 00 90 05 13 01 90 15 90")));

    // A later setting answer leaves the write pending.
    Store(CodedListFrame(1, 21, Hex("00 10 50 12")));
    EXPECT_EQ(relay.settings.settingState, 2);
}

TEST_F(SettingDbTest, FloatReloadTakesTheEditedCatalogueValuesIntoTheWrite) {
    Connect();
    db->AddPoint(31, 1, 1, "f1", 0);
    db->AddPoint(31, 1, 2, "f2", 0);
    db->AddPoint(31, 2, 1, "b1", 0);
    Store(FloatLayoutFrame(1, 31, {12.5f, -0.25f}, {1}));
    db->Exec("UPDATE \"RelayName\" SET \"Value\" = 4 WHERE \"RelayType\" = 1 AND \"RelayID\" = 2");
    // A byte setting is truncated toward zero and keeps its low 8 bits.
    db->Exec("UPDATE \"RelayName\" SET \"Value\" = 258.7 WHERE \"RelayType\" = 2");

    service.LoadSettingsForWrite(relay);

    EXPECT_FLOAT_EQ(relay.settings.settingValue[0], 12.5f);
    EXPECT_FLOAT_EQ(relay.settings.settingValue[1], 4.0f);
    EXPECT_EQ(relay.settings.settingFlag[0], 2);
    EXPECT_EQ(WriteFrame(3), ToHex(WithCrc("01 8C 0D 00 03 02 01 00 00 48 41 00 00 80 40 02")));
}

TEST_F(SettingDbTest, ReloadBeforeAnySettingAnswerLoadsNothing) {
    Connect();
    db->AddCodedRow(0, 2, 0, "x", 5.0, 1);
    db->AddPoint(0, 1, 1, "y", 6.0);
    const vorlan::SettingTable before = relay.settings;

    service.LoadSettingsForWrite(relay);

    EXPECT_EQ(relay.settings.settingValue, before.settingValue);
    EXPECT_EQ(relay.settings.settingFlag, before.settingFlag);
    EXPECT_EQ(WriteFrame(3), "");  // nothing to write
    EXPECT_EQ(service.Status().failedWork, 0);
}

TEST_F(SettingDbTest, NamesWithQuotesAndGbkBytesAreStoredVerbatim) {
    Connect();
    const std::string name = Gbk("过流'定值\"") + "[x]; DROP TABLE \"RelayName\"; --";
    const std::string comment = Gbk("注释'") + "\\";
    db->AddPoint(60, 1, 1, name, 2.0, comment);
    Store(CodedListFrame(1, 60, Hex("00 10 50 12")));
    EXPECT_EQ(CodedRows(60), (std::vector<std::string>{"0|" + name + "|25|1|2|0"}));

    // The same row is found again by its quoted texts when its value changes.
    db->AddPoint(61, 1, 1, name, 2.0, comment);
    Store(FloatLayoutFrame(1, 61, {8.0f}, {}));
    EXPECT_EQ(PointValue(61, 1, 1), "8");
    EXPECT_EQ(service.Status().failedWork, 0) << service.Status().lastError;
}

TEST_F(SettingDbTest, ADatabaseErrorRollsBackTheWholeAnswer) {
    Connect();
    db->AddPoint(70, 1, 1, "a", 0);
    db->AddPoint(70, 1, 2, "b", 0);
    db->AddCodedRow(70, 2, 0, "earlier", 1.0, 1);
    db->RejectCode(1);

    Store(CodedListFrame(1, 70, Hex("00 10 50 12  01 10 50 12")));

    // The record is filled; the table keeps its earlier settings, not half.
    EXPECT_EQ(relay.settings.settingCount, 2);
    EXPECT_EQ(relay.settings.settingState, 1);
    EXPECT_EQ(CodedRows(70), (std::vector<std::string>{"0|earlier|1|1|2|0"}));
    EXPECT_EQ(service.Status().failedWork, 1);

    // The connection stays usable for the next answer.
    Store(CodedListFrame(1, 70, Hex("00 10 15 10")));
    EXPECT_EQ(CodedRows(70), (std::vector<std::string>{"0|a|1.5|1|2|0"}));
    EXPECT_EQ(service.Status().failedWork, 1);
}

TEST_F(SettingDbTest, WithoutTheSettingTableTheCatalogueStillServes) {
    Connect(false);
    EXPECT_EQ(message, std::string(vorlan::kSettingDbFailureText) + "\n");
    EXPECT_TRUE(service.Status().catalogueOpen);
    EXPECT_FALSE(service.Status().settingTableOpen);
    db->AddPoint(210, 1, 1, "a", 0);
    db->AddPoint(31, 1, 1, "f1", 0);

    Store(CodedListFrame(1, 21, kThreeEntries));
    EXPECT_EQ(relay.settings.settingCount, 3);
    service.LoadSettingsForWrite(relay);  // coded reload skipped
    EXPECT_FLOAT_EQ(relay.settings.settingValue[0], 25.0f);

    Store(FloatLayoutFrame(1, 31, {2.5f}, {}));
    EXPECT_EQ(PointValue(31, 1, 1), "2.5");
    EXPECT_EQ(service.Status().failedWork, 0) << service.Status().lastError;
}

TEST_F(SettingDbTest, AValueThatDoesNotFitItsSlotRefusesTheWholeWrite) {
    Connect();
    db->AddPoint(80, 1, 1, "a", 0);
    db->AddPoint(80, 1, 2, "b", 0);
    // Code 0: 2.34 with 2 decimals; code 1: 25.0 with 1 decimal.
    Store(CodedListFrame(1, 80, Hex("00 10 34 22  01 10 50 12")));
    relay.settings.settingState = 2;  // as the DZWR write sets it

    // A fourth digit, beyond +-999, a third decimal: none goes out changed,
    // and code 1 is not written without code 0.
    for (const char* edit : {"12.5", "1000", "-1000", "2.345"}) {
        db->Exec(std::string("UPDATE \"RelayDevSet\" SET \"value\" = ") + edit + " WHERE \"code\" = 0");
        service.LoadSettingsForWrite(relay);
        EXPECT_EQ(WriteFrame(3), "") << edit;
    }

    // Through the builder: no 0x8C, and as for a table too long for one
    // frame, no 0x8F confirms it later; the relay is polled on.
    vorlan::PollingState state;
    state.deviceCount = 1;
    state.devices[0].conversation = relay.conversation;
    state.devices[0].settings = relay.settings;
    state.devices[0].address = 1;
    state.devices[0].conversation.nextCommand = vorlan::Request::SettingWrite;
    FakeClock clock;
    uint8_t frame[vorlan::kPacketFrameBuffer] = {};
    int32_t length = -1;
    int32_t expected = 0;
    vorlan_test::BuildInto(state, clock, frame, sizeof frame, length, expected);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(frame[0], 0);
    EXPECT_EQ(state.devices[0].conversation.nextCommand, vorlan::Request::GeneralPoll);
    EXPECT_EQ(state.devices[0].conversation.writeConfirmCountdown, 0);

    // The largest value two decimals carry goes out as it is.
    db->Exec("UPDATE \"RelayDevSet\" SET \"value\" = 9.99 WHERE \"code\" = 0");
    service.LoadSettingsForWrite(relay);
    EXPECT_EQ(WriteFrame(3), ToHex(WithCrc("01 8C 0A 00 03 00 10 99 29 01 10 50 12")));
    EXPECT_EQ(service.Status().failedWork, 0) << service.Status().lastError;
}

TEST_F(SettingDbTest, OneByteSettingsKeepWhatTheyHoldThroughTheDatabase) {
    Connect();
    for (int id = 1; id <= 4; ++id) db->AddPoint(81, 1, id, "p" + std::to_string(id), 0);
    const std::string entries = "00 10 34 22  01 08 15  02 88 09  03 08 87";
    Store(CodedListFrame(1, 81, Hex(entries)));
    EXPECT_EQ(CodedRows(81), (std::vector<std::string>{"0|p1|2.34|1|2|0", "1|p2|0.5|1|2|0", "2|p3|9|0|2|0",
                                                       "3|p4|-7|1|2|0"}));
    relay.settings.settingState = 2;  // as the DZWR write sets it

    // Reloaded unedited: the very bytes the relay sent.
    service.LoadSettingsForWrite(relay);
    EXPECT_EQ(WriteFrame(3), ToHex(WithCrc("01 8C 0F 00 03 " + std::string(entries))));

    // An edit one digit can carry goes out; one it can't refuses the table.
    db->Exec("UPDATE \"RelayDevSet\" SET \"value\" = -0.2, \"flag\" = 0 WHERE \"code\" = 1");
    service.LoadSettingsForWrite(relay);
    EXPECT_EQ(WriteFrame(3), ToHex(WithCrc("01 8C 0F 00 03 00 10 34 22  01 88 92  02 88 09  03 08 87")));
    for (const char* edit : {"12", "0.25", "-10", "7.5"}) {
        db->Exec(std::string("UPDATE \"RelayDevSet\" SET \"value\" = ") + edit + " WHERE \"code\" = 3");
        service.LoadSettingsForWrite(relay);
        EXPECT_EQ(WriteFrame(3), "") << edit;
    }
    EXPECT_EQ(service.Status().failedWork, 0) << service.Status().lastError;
}

TEST_F(SettingDbTest, ADuplicateCatalogueRowLosesNothingElseOfTheAnswer) {
    Connect();
    db->AddPoint(90, 1, 1, "f1", 0);
    db->AddPoint(90, 1, 1, "f1", 0);  // an exact duplicate
    db->AddPoint(90, 1, 2, "f2", 0);
    db->AddPoint(90, 2, 1, "b1", 0);

    // Float layout: both copies get the value, the rows after them theirs.
    Store(FloatLayoutFrame(1, 90, {12.5f, -0.25f}, {7}));
    const auto values = db->Query("SELECT \"Value\" FROM \"RelayName\" WHERE \"RtuType\" = 90 AND "
                                  "\"RelayType\" = 1 AND \"RelayID\" = 1");
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(Number(values[0][0]), "12.5");
    EXPECT_EQ(Number(values[1][0]), "12.5");
    EXPECT_EQ(PointValue(90, 1, 2), "-0.25");
    EXPECT_EQ(PointValue(90, 2, 1), "7");
    EXPECT_EQ(service.Status().failedWork, 0) << service.Status().lastError;

    // Coded list: each copy names its setting; nothing is rolled back.
    Store(CodedListFrame(1, 90, Hex("00 10 50 12  01 90 15 90")));
    EXPECT_EQ(CodedRows(90), (std::vector<std::string>{"0|f1|25|1|2|0", "0|f1|25|1|2|0",
                                                       "1|f2|-1.5|0|2|0"}));
    EXPECT_EQ(service.Status().failedWork, 0) << service.Status().lastError;
}

TEST_F(SettingDbTest, DzwrReloadsThePacketsRelayNotTheOneServedLast) {
    db->Create(true);
    db->AddCodedRow(210, 2, 0, "a", 30.5, 0);
    vorlan::CRelayDriver driver(std::make_unique<FakeClock>());
    int32_t address = 0;
    ASSERT_EQ(driver.AddDevice("1", &address), 1);
    ASSERT_EQ(driver.AddDevice("2", &address), 1);
    vorlan::PollingState& state = driver.State();
    for (auto* r : {&state.devices[0], &state.devices[1]}) {
        r->settings.settingAnswerCode = 0xBD;
        r->settings.rtuType = 210;
        r->settings.settingCount = 1;
        r->settings.settingCode[0] = 0;
        r->settings.settingValue[0] = 25.0f;
        r->settings.settingFlag[0] = 1;
        r->settings.settingLength[0] = 2;
        r->settings.settingDescriptor[0] = 0x10;
        r->settings.settingDecimals[0] = 1;
        r->settings.settingZone = 3;
    }
    state.currentDevice = 1;  // relay 2 was served last

    TestPacket write(0, 13, 1, {1});  // DZWR = 2 for relay 1
    write.SetByte(0, 2);
    driver.ProcessPacket(&write.packet, 1);

    EXPECT_FLOAT_EQ(state.devices[0].settings.settingValue[0], 30.5f);
    EXPECT_EQ(state.devices[0].settings.settingFlag[0], 0);
    EXPECT_EQ(state.devices[0].conversation.nextCommand, vorlan::Request::SettingWrite);
    EXPECT_EQ(state.devices[0].settings.settingState, 2);
    EXPECT_FLOAT_EQ(state.devices[1].settings.settingValue[0], 25.0f);  // untouched

    // Relay 1's turn comes next: its write carries the edited value.
    FakeClock clock;
    uint8_t frame[vorlan::kPacketFrameBuffer] = {};
    int32_t length = 0;
    int32_t expected = 0;
    vorlan_test::BuildInto(state, clock, frame, sizeof frame, length, expected);
    EXPECT_EQ(ToHex(frame, static_cast<size_t>(length)), ToHex(WithCrc("01 8C 06 00 03 00 90 05 13")));
}

}  // namespace vorlan_test
