// Every request frame byte for byte, and the choice of relay and command
// across calls: rotation, out-of-turn follow-ups, the control watch, time
// synchronisation and the setting operations.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "model/recording_limits.h"
#include "hex.h"
#include "model/frame.h"
#include "protocol/request_builder.h"
#include "frame_calls.h"

using namespace vorlan;
using vorlan_test::FakeClock;
using vorlan_test::ToHex;
using vorlan_test::WithCrc;

namespace {

std::string Framed(const std::string& withoutCrc) { return ToHex(WithCrc(withoutCrc)); }

class RequestBuilder : public ::testing::Test {
protected:
    // Relays at addresses 1..count, index order.
    void Register(int count) {
        for (int i = 0; i < count; ++i) {
            state.devices[static_cast<size_t>(i)].address = static_cast<uint8_t>(i + 1);
            state.devices[static_cast<size_t>(i)].index = static_cast<uint8_t>(i);
        }
        state.deviceCount = count;
    }
    DeviceRecord& Relay(int i) { return state.devices[static_cast<size_t>(i)]; }

    // One call; the frame as hex ("" when nothing is to be sent).
    std::string Build() {
        length = -1;
        expectedLength = 0;  // what the tag service hands in
        EXPECT_EQ(vorlan_test::BuildInto(state, clock, frame, sizeof frame, length, expectedLength), 1);
        EXPECT_GE(length, 0);
        return ToHex(frame, static_cast<size_t>(length > 0 ? length : 0));
    }
    // The relays served by `calls` successive calls.
    std::vector<int> Served(int calls) {
        std::vector<int> served;
        for (int i = 0; i < calls; ++i) {
            Build();
            served.push_back(state.currentDevice);
        }
        return served;
    }
    // What the dispatcher does for answer 0xB1 from relay i.
    void AnswerChanges(int i) {
        state.currentDevice = i;
        Relay(i).conversation.nextCommand = Request::FollowUpPoll;
        if (state.stayCount < 6) {
            state.stayCount += 1;
            state.priorityDevice = i;
        }
    }

    PollingState state;
    FakeClock clock;
    uint8_t frame[kPacketFrameBuffer] = {};
    int32_t length = 0;
    int32_t expectedLength = 0;
};

TEST_F(RequestBuilder, FramesByteForByte) {
    Register(1);
    DeviceRecord& r = Relay(0);
    r.settings.settingZone = 5;
    r.control.ykPoint = 0x107;  // sent as its low byte
    r.control.ykCommand = 0xCC;
    r.recording.lbRequestId = 0x01020304;
    r.recording.lbNextSample = 0x0506;

    struct Case {
        uint8_t code;
        std::string frame;
        int32_t expected;
    };
    const Case cases[] = {
        {0x83, "01 83 00 30 F0", 3},
        {0x85, Framed("01 85 02 00 05"), 3},
        {0x8A, Framed("01 8A 00"), 3},
        {0x8F, Framed("01 8F 02 00 05"), 0},
        {0x90, Framed("01 90 02 00 05"), 0},
        {0x98, Framed("01 98 03 00 07 CC"), 3},
        {0x99, Framed("01 99 00"), 0},
        {0x9A, Framed("01 9A 03 00 07 CC"), 3},
        {0x9B, Framed("01 9B 07 04 03 02 01 06 05 05"), 0},
        {0x42, "", 0},
    };
    for (const Case& c : cases) {
        r.conversation.nextCommand = static_cast<Request>(c.code);
        r.settings.settingState = 255;
        // Each control step is the control's next one.
        r.control.step = c.code == 0x98   ? ControlStep::SelectWanted
                         : c.code == 0x9A ? ControlStep::ExecuteWanted
                                          : ControlStep::None;
        EXPECT_EQ(Build(), c.frame) << std::hex << int(c.code);
        EXPECT_EQ(expectedLength, c.expected) << std::hex << int(c.code);
    }
}

TEST_F(RequestBuilder, BroadcastResetIsOneShot) {
    Register(2);
    Relay(1).conversation.nextCommand = Request::Reset;
    EXPECT_EQ(Build(), "FF 80 01 00 30 6C");
    EXPECT_EQ(expectedLength, 0);
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::GeneralPoll);
    Build();
    EXPECT_EQ(Build(), Framed("02 83 00"));
}

uint64_t FileTimeOf(const SystemTime& utc) {
    uint64_t ft = 0;
    EXPECT_TRUE(SystemTimeToFileTime(utc, ft));
    return ft;
}

TEST_F(RequestBuilder, TimeSynchronisationEvery300Requests) {
    Register(1);
    // UTC now, written as the relays' zone (UTC+8 unless set) reads it.
    clock.SetFileTime(FileTimeOf(SystemTime{2003, 7, 2, 15, 0, 30, 5, 250}));
    const std::string poll = "01 83 00 30 F0";
    const std::string sync = Framed("01 81 09 03 20 07 15 08 30 05 50 02");
    for (int call = 1; call <= 602; ++call) {
        const std::string built = Build();
        if (call == 301 || call == 602) {
            EXPECT_EQ(built, sync) << call;
            EXPECT_EQ(expectedLength, 0);
        } else {
            ASSERT_EQ(built, poll) << call;
        }
    }
    EXPECT_EQ(Relay(0).conversation.nextCommand, Request::GeneralPoll);  // the substitution leaves the record alone
}

TEST_F(RequestBuilder, WriteConfirmationWinsOverDueSynchronisation) {
    Register(1);
    Relay(0).conversation.writeConfirmCountdown = 2;
    Relay(0).conversation.pollCount = 300;
    Relay(0).settings.settingZone = 2;
    EXPECT_EQ(Build(), Framed("01 8F 02 00 02"));
    EXPECT_EQ(Relay(0).conversation.pollCount, 0);
    EXPECT_EQ(Relay(0).conversation.writeConfirmCountdown, 0);
    for (int call = 1; call <= 300; ++call) ASSERT_EQ(Build(), "01 83 00 30 F0") << call;
    EXPECT_EQ(Build().substr(0, 8), "01 81 09");
}

TEST_F(RequestBuilder, IdleRelaysAreServedInTurn) {
    Register(3);
    EXPECT_EQ(Served(4), (std::vector<int>{1, 2, 0, 1}));
    EXPECT_EQ(ToHex(frame, static_cast<size_t>(length)), Framed("02 83 00"));
}

TEST_F(RequestBuilder, NoRelayRegisteredBuildsNothing) {
    // The unfilled records carry address 255: serving one would address every relay.
    Relay(0).conversation.nextCommand = Request::ControlSelect;
    state.priorityDevice = 0;
    state.controlWatch = 1;
    state.controlWatchDevice = 0;
    state.controlWatchStep = 2;
    length = -1;
    EXPECT_EQ(vorlan_test::BuildInto(state, clock, frame, sizeof frame, length, expectedLength), 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(Relay(0).conversation.nextCommand, Request::ControlSelect);
    EXPECT_EQ(Relay(0).conversation.unansweredCount, 0);
}

TEST_F(RequestBuilder, RecordsBeyondTheRegisteredRelaysAreNeverServed) {
    Register(2);
    Relay(5).conversation.nextCommand = Request::ControlSelect;  // a control written on a packet of an unregistered record
    state.priorityDevice = 5;
    EXPECT_EQ(Build(), Framed("02 83 00"));
    EXPECT_EQ(state.priorityDevice, kNone);

    state.controlWatch = 1;
    state.controlWatchDevice = 7;
    state.controlWatchStep = 1;
    EXPECT_EQ(Build(), Framed("01 83 00"));  // the watch is dropped, the turn goes on
    EXPECT_EQ(state.controlWatch, 0);
    EXPECT_EQ(state.controlWatchDevice, kNone);
    for (int i = 0; i < 6; ++i) EXPECT_LT(Served(1)[0], 2);
}

TEST_F(RequestBuilder, AtMostFiveFollowUpsInARow) {
    Register(3);
    EXPECT_EQ(Build(), Framed("02 83 00"));  // relay 1 in turn
    for (int answer = 1; answer <= 5; ++answer) {
        AnswerChanges(0);
        EXPECT_EQ(Build(), Framed("01 8A 00")) << answer;
    }
    AnswerChanges(0);  // the sixth report: its follow-up waits for the turn
    EXPECT_EQ(Build(), Framed("02 83 00"));
    EXPECT_EQ(state.stayCount, 0);
    EXPECT_EQ(Build(), Framed("03 83 00"));
    EXPECT_EQ(Build(), Framed("01 8A 00"));
}

TEST_F(RequestBuilder, ControlWatchPattern) {
    Register(5);
    state.currentDevice = 1;
    Relay(2).conversation.nextCommand = Request::ControlExecute;
    Relay(2).control.ykPoint = 3;
    Relay(2).control.ykCommand = 0xAA;
    Relay(2).control.step = ControlStep::ExecuteWanted;
    EXPECT_EQ(Build(), Framed("03 9A 03 00 03 AA"));
    EXPECT_EQ(Relay(2).control.step, ControlStep::ExecuteSent);
    EXPECT_EQ(state.controlWatch, 1);
    EXPECT_EQ(state.controlWatchDevice, 2);
    Relay(2).conversation.nextCommand = Request::GeneralPoll;  // the relay reported its outcome

    EXPECT_EQ(Served(17),
              (std::vector<int>{3, 2, 3, 2, 4, 2, 0, 2, 1, 2, 2, 2, 3, 2, 3, 4, 0}));
    EXPECT_EQ(state.controlWatch, 0);
    EXPECT_EQ(state.controlWatchDevice, kNone);
    EXPECT_EQ(Relay(2).control.step, ControlStep::None);  // no result counts after the watch
}

// A control step goes out only as the control's next one: an execute never
// without its select's confirmation, a select never after it went out once.
TEST_F(RequestBuilder, ControlStepsGoOutOnlyInTurn) {
    Register(1);
    DeviceRecord& r = Relay(0);
    r.control.ykPoint = 2;
    r.control.ykCommand = 0xCC;
    for (ControlStep step : {ControlStep::None, ControlStep::SelectWanted, ControlStep::SelectSent,
                             ControlStep::ExecuteSent}) {
        r.control.step = step;
        r.conversation.nextCommand = Request::ControlExecute;
        EXPECT_EQ(Build(), "01 83 00 30 F0") << int(step);
    }
    for (ControlStep step : {ControlStep::None, ControlStep::SelectSent, ControlStep::ExecuteWanted}) {
        r.control.step = step;
        r.conversation.nextCommand = Request::ControlSelect;
        EXPECT_EQ(Build(), "01 83 00 30 F0") << int(step);
    }
    r.control.step = ControlStep::SelectWanted;
    r.conversation.nextCommand = Request::ControlSelect;
    EXPECT_EQ(Build(), Framed("01 98 03 00 02 CC"));
    EXPECT_EQ(r.control.step, ControlStep::SelectSent);
    EXPECT_EQ(r.conversation.awaiting, Request::ControlSelect);
}

TEST_F(RequestBuilder, PriorityOverridesTheWatch) {
    Register(5);
    state.controlWatch = 1;
    state.controlWatchDevice = 2;
    state.controlWatchStep = 1;
    state.priorityDevice = 4;
    Build();
    EXPECT_EQ(state.currentDevice, 4);
    EXPECT_EQ(state.priorityDevice, kNone);
    state.priorityDevice = 77;  // not a relay: ignored, the watch goes on
    Build();
    EXPECT_EQ(state.currentDevice, 3);  // step 2: one place after the watched relay
}

TEST_F(RequestBuilder, ZoneSwitchReadsTheZoneNext) {
    Register(1);
    Relay(0).settings.settingZone = 4;
    Relay(0).conversation.nextCommand = Request::ZoneSwitch;
    EXPECT_EQ(Build(), Framed("01 90 02 00 04"));
    EXPECT_EQ(Relay(0).settings.settingState, 4);
    Relay(0).conversation.nextCommand = Request::GeneralPoll;  // whatever the relay answered
    EXPECT_EQ(Build(), Framed("01 85 02 00 04"));
    EXPECT_EQ(Relay(0).settings.settingState, 0);
    EXPECT_EQ(Relay(0).conversation.nextCommand, Request::SettingRead);  // repeated until the settings arrive
}

TEST_F(RequestBuilder, SettingWriteWithoutTableConfirmsNothing) {
    Register(1);
    Relay(0).conversation.nextCommand = Request::SettingWrite;  // settingAnswerCode is still 255
    EXPECT_EQ(Build(), "");
    EXPECT_EQ(Relay(0).conversation.writeConfirmCountdown, 0);
    // No confirmation of a write that never went out; the relay is polled on.
    EXPECT_EQ(Build(), Framed("01 83 00"));
    EXPECT_EQ(Build(), Framed("01 83 00"));
}

TEST_F(RequestBuilder, CodeWithoutFrameStillCounts) {
    Register(1);
    Relay(0).conversation.nextCommand = Request::None;
    Relay(0).conversation.unansweredCount = 18000;
    EXPECT_EQ(Build(), "");
    EXPECT_EQ(Relay(0).conversation.pollCount, 1);
    EXPECT_EQ(Relay(0).conversation.unansweredCount, 1);  // wraps
    EXPECT_EQ(Build(), "");
    EXPECT_EQ(Relay(0).conversation.unansweredCount, 2);
}

TEST_F(RequestBuilder, FinishedRetrievalLeavesTheRequestAlone) {
    Register(1);
    DeviceRecord& r = Relay(0);
    r.recording.lbRequestId = 7;
    r.recording.lbIndex = 0;
    r.recording.lbSampleCount[0] = 10;
    r.recording.lbNextSample = 11;  // all asked for
    r.conversation.nextCommand = Request::RecordingList;
    EXPECT_EQ(Build(), Framed("01 99 00"));
}

TEST_F(RequestBuilder, RunningRetrievalContinuesOnEveryTurn) {
    Register(1);
    DeviceRecord& r = Relay(0);
    r.recording.lbRequestId = 7;
    r.recording.lbIndex = 1;
    r.recording.lbSampleCount[1] = 10;
    r.recording.lbNextSample = 3;
    ASSERT_TRUE(RecordingHasMoreSamples(r));
    r.settings.settingState = 4;  // a zone switch comes first
    EXPECT_EQ(Build(), Framed("01 85 02 00 64"));
    r.conversation.nextCommand = Request::ControlSelect;  // a host write is overridden by the retrieval
    EXPECT_EQ(Build(), Framed("01 9B 07 07 00 00 00 03 00 05"));
    EXPECT_EQ(r.conversation.nextCommand, Request::RecordingBlock);
}

TEST_F(RequestBuilder, ProbeAndSmallBuffers) {
    uint8_t probe[8] = {};
    EXPECT_EQ(BuildProbe(1, probe, sizeof probe), 5);
    EXPECT_EQ(ToHex(probe, 5), "01 83 00 30 F0");
    EXPECT_EQ(BuildProbe(1, probe, 4), 0);

    Register(1);
    uint8_t tiny[6] = {};
    int32_t len = -1, expected = 0;
    Relay(0).conversation.nextCommand = Request::ControlSelect;
    Relay(0).control.step = ControlStep::SelectWanted;
    EXPECT_EQ(vorlan_test::BuildInto(state, clock, tiny, sizeof tiny, len, expected), 1);
    EXPECT_EQ(len, 0);  // an 8-byte request doesn't fit: nothing to send
}

// ---- The setting write, both layouts.

class SettingWrite : public RequestBuilder {
protected:
    void SetUp() override {
        Register(1);
        Relay(0).settings.settingZone = 3;
    }
    std::string Write() {
        const int32_t n = BuildSettingWrite(state, frame, sizeof frame);
        return ToHex(frame, static_cast<size_t>(n));
    }
    void Slot(int i, uint8_t len, uint8_t code, uint8_t descriptor, uint8_t flag, float value,
              uint8_t decimals) {
        DeviceRecord& r = Relay(0);
        const size_t k = static_cast<size_t>(i);
        r.settings.settingLength[k] = len;
        r.settings.settingCode[k] = code;
        r.settings.settingDescriptor[k] = descriptor;
        r.settings.settingFlag[k] = flag;
        r.settings.settingValue[k] = value;
        r.settings.settingDecimals[k] = decimals;
    }
};

TEST_F(SettingWrite, PackedDecimalLayout) {
    DeviceRecord& r = Relay(0);
    r.settings.settingAnswerCode = 0xBD;
    r.settings.settingCount = 6;
    Slot(0, 2, 0x10, 0x85, 1, 25.0f, 1);   // flag set: descriptor bit 7 cleared
    Slot(1, 2, 0x11, 0x05, 0, -1.5f, 1);   // flag clear: bit 7 set
    Slot(2, 1, 0x12, 0x08, 1, 0.5f, 1);    // one byte: one digit, its decimals and sign
    Slot(3, 3, 0x13, 0x00, 0, 1.0f, 0);    // other lengths add nothing
    Slot(4, 1, 0x14, 0x08, 0, -7.0f, 0);
    Slot(5, 1, 0x15, 0x88, 1, 9.0f, 0);
    EXPECT_EQ(Write(), Framed("01 8C 13 00 03 10 05 50 12 11 85 15 90 12 08 15 14 88 87 15 08 09"));
}

// One digit with the slot's decimals: a value it can't carry refuses the
// whole table, as a two-byte value that doesn't fit does.
TEST_F(SettingWrite, OneByteValueThatDoesNotFitRefusesTheTable) {
    DeviceRecord& r = Relay(0);
    r.settings.settingAnswerCode = 0xBD;
    r.settings.settingCount = 2;
    Slot(0, 2, 0x10, 0x10, 1, 25.0f, 1);
    const struct {
        float value;
        uint8_t decimals;
    } unfit[] = {{7.9f, 0}, {12.0f, 0}, {-10.0f, 0}, {0.55f, 1}, {0.5f, 0}, {1.0f, 8}, {NAN, 0}};
    for (const auto& u : unfit) {
        Slot(1, 1, 0x11, 0x08, 1, u.value, u.decimals);
        std::fill(std::begin(frame), std::end(frame), 0xEE);
        EXPECT_EQ(BuildSettingWrite(state, frame, sizeof frame), 0) << u.value;
        EXPECT_EQ(frame[0], 0);  // nothing half-built left behind
    }
    Slot(1, 1, 0x11, 0x08, 1, -0.9f, 1);
    EXPECT_EQ(Write(), Framed("01 8C 09 00 03 10 10 50 12 11 08 99"));
}

TEST_F(SettingWrite, FloatLayout) {
    DeviceRecord& r = Relay(0);
    r.settings.settingAnswerCode = 0xAD;
    r.settings.settingCount = 2;
    r.settings.settingByteCount = 2;
    r.settings.settingValue[0] = 1.0f;
    r.settings.settingValue[1] = 12.5f;
    r.settings.settingFlag[0] = 7;
    r.settings.settingFlag[1] = 9;
    EXPECT_EQ(Write(), Framed("01 8C 0E 00 03 02 02 00 00 80 3F 00 00 48 41 07 09"));
}

TEST_F(SettingWrite, TableThatDoesNotFitOneFrameIsRefused) {
    DeviceRecord& r = Relay(0);
    r.settings.settingAnswerCode = 0xAD;
    r.settings.settingCount = 62;
    r.settings.settingByteCount = 3;  // 4 + 248 + 3 = 255 data bytes: the largest frame
    EXPECT_EQ(BuildSettingWrite(state, frame, sizeof frame), 260);
    r.settings.settingByteCount = 4;
    EXPECT_EQ(BuildSettingWrite(state, frame, sizeof frame), 0);
    EXPECT_EQ(BuildSettingWrite(state, frame, 100), 0);  // nor past the caller's buffer

    r.settings.settingAnswerCode = 0xBD;
    r.settings.settingCount = 64;
    for (int i = 0; i < 64; ++i) Slot(i, 2, 1, 0, 1, 1.0f, 0);
    r.settings.settingLength[63] = 0;  // 2 + 63 x 4 = 254 data bytes
    EXPECT_EQ(BuildSettingWrite(state, frame, sizeof frame), 259);
    r.settings.settingLength[63] = 1;  // 257
    EXPECT_EQ(BuildSettingWrite(state, frame, sizeof frame), 0);
    EXPECT_EQ(frame[0], 0);  // no half-built frame left in the buffer

    // Through the builder: nothing is sent and nothing will be confirmed.
    r.conversation.nextCommand = Request::SettingWrite;
    EXPECT_EQ(Build(), "");
    EXPECT_EQ(r.conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(r.conversation.writeConfirmCountdown, 0);
}

TEST_F(SettingWrite, BuiltThroughTheBuilder) {
    DeviceRecord& r = Relay(0);
    r.settings.settingAnswerCode = 0xBD;
    r.settings.settingCount = 1;
    Slot(0, 2, 0x10, 0x05, 1, 25.0f, 1);
    r.conversation.nextCommand = Request::SettingWrite;
    EXPECT_EQ(Build(), Framed("01 8C 06 00 03 10 05 50 12"));
    EXPECT_EQ(expectedLength, 248);
}

}  // namespace
