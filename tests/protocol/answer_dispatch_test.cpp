// Answers through ParseAnswer and ParseProbeAnswer: what each code stores,
// which request it leaves the relay, and what a bad answer must not touch.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hex.h"
#include "protocol/answer_dispatch.h"

using namespace vorlan;
using vorlan_test::Hex;
using vorlan_test::WithCrc;

namespace {

// Records which answers reached the settings and recording services.
class RecordingHandlers final : public AnswerHandlers {
public:
    struct Call {
        uint8_t code;
        uint8_t relayAddress;
        size_t frameSize;
    };
    void StoreCodedSettings(DeviceRecord& r, ByteView f) override { Note(0xBD, r, f); }
    void StoreSettingValues(DeviceRecord& r, ByteView f) override { Note(0xAD, r, f); }
    void StoreRecordingList(DeviceRecord& r, ByteView f) override { Note(0xC9, r, f); }
    void StoreRecordingBlock(DeviceRecord& r, ByteView f) override {
        Note(0xCB, r, f);
        r.conversation.nextCommand = Request::RecordingBlock;
    }
    std::vector<Call> calls;

private:
    void Note(uint8_t code, DeviceRecord& r, ByteView f) {
        calls.push_back({code, r.address, f.size()});
    }
};

class AnswerDispatch : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            state.devices[static_cast<size_t>(i)].address = static_cast<uint8_t>(i + 1);
            state.devices[static_cast<size_t>(i)].index = static_cast<uint8_t>(i);
        }
        state.deviceCount = 3;
    }
    DeviceRecord& Relay(int i) { return state.devices[static_cast<size_t>(i)]; }

    // The answer's relay (by its first byte) was sent `asked`, as the
    // request builder would have noted.
    int32_t Parse(const std::vector<uint8_t>& answer, Request asked = Request::GeneralPoll) {
        for (int i = 0; i < state.deviceCount && !answer.empty(); ++i) {
            if (Relay(i).address == answer[0]) Relay(i).conversation.awaiting = asked;
        }
        return ParseAnswer(state, handlers, ByteView(answer.data(), answer.size()), kAnswerTime);
    }
    int32_t Probe(uint8_t address, const std::vector<uint8_t>& answer) {
        return ParseProbeAnswer(state, handlers, address, ByteView(answer.data(), answer.size()), kAnswerTime);
    }
    static constexpr uint64_t kAnswerTime = 132'000'000'000'000'000ULL;

    PollingState state;
    RecordingHandlers handlers;
};

// ---- Answer 0x06.

TEST_F(AnswerDispatch, MeasurementResetsThePolling) {
    state.currentDevice = 2;
    state.stayCount = 3;
    Relay(0).conversation.nextCommand = Request::FollowUpPoll;
    Relay(0).conversation.unansweredCount = 5;
    EXPECT_EQ(Parse(WithCrc("01 06 04 01 00 10 27")), 1);
    EXPECT_EQ(Relay(0).points.ycValue[0], 10000.0f);
    EXPECT_EQ(Relay(0).conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(state.stayCount, 0);
    EXPECT_EQ(Relay(0).conversation.unansweredCount, 0);
    EXPECT_EQ(state.currentDevice, 0);  // the answering relay becomes current
}

TEST_F(AnswerDispatch, DataOfEachType) {
    EXPECT_EQ(Parse(WithCrc("02 06 07 01 05 FE FF 3F 12 34")), 1);  // two triples
    EXPECT_EQ(Relay(1).points.ycValue[5], -1.0f);
    EXPECT_EQ(Relay(1).points.ycValue[0x3F], 13330.0f);

    Relay(1).points.yxState[25] = 1;
    EXPECT_EQ(Parse(WithCrc("02 06 04 02 03 00 81")), 1);
    for (int p = 24; p < 32; ++p) EXPECT_EQ(Relay(1).points.yxState[p], (p == 24 || p == 31) ? 1 : 0) << p;

    EXPECT_EQ(Parse(WithCrc("02 06 05 03 02 34 12 99")), 1);  // the extra byte is ignored
    EXPECT_EQ(Relay(1).points.ymValue[2], 4660u);

    EXPECT_EQ(Parse(WithCrc("02 06 04 09 00 10 27")), 1);  // a type the driver doesn't use
    EXPECT_EQ(Relay(1).points.ycValue[0], 0.0f);
    EXPECT_EQ(Relay(0).points.ycValue[5], 0.0f);  // other relays untouched
}

TEST_F(AnswerDispatch, IndexesBeyondTheirTablesAreIgnored) {
    DeviceRecord& r = Relay(0);
    EXPECT_EQ(Parse(WithCrc("01 06 0A 01 40 10 27 FF FF 7F 3F 01 00")), 1);
    EXPECT_EQ(r.points.ycValue[63], 1.0f);  // the entry after the refused ones is stored
    EXPECT_EQ(Parse(WithCrc("01 06 07 02 40 00 FF 3F 00 80")), 1);
    EXPECT_EQ(r.points.yxState[511], 1);
    EXPECT_EQ(Parse(WithCrc("01 06 07 03 14 FF FF 13 07 00")), 1);
    EXPECT_EQ(r.points.ymValue[19], 7u);

    int ycSet = 0, yxSet = 0, ymSet = 0;
    for (float v : r.points.ycValue) ycSet += v != 0.0f;
    for (uint8_t v : r.points.yxState) yxSet += v;
    for (uint32_t v : r.points.ymValue) ymSet += v != 0;
    EXPECT_EQ(ycSet, 1);
    EXPECT_EQ(yxSet, 1);
    EXPECT_EQ(ymSet, 1);
    EXPECT_EQ(r.settings.settingValue[0], 0.0f);  // what follows the tables is untouched
    EXPECT_EQ(r.settings.settingCode[0], 0);
}

TEST_F(AnswerDispatch, EmptyDataConfirmsASettingWrite) {
    Relay(0).settings.settingState = 2;
    EXPECT_EQ(Parse(WithCrc("01 06 00"), Request::SettingWrite), 1);
    EXPECT_EQ(Relay(0).settings.settingState, 3);
    Relay(0).settings.settingState = 2;
    EXPECT_EQ(Parse(WithCrc("01 06 00"), Request::SettingConfirm), 1);
    EXPECT_EQ(Relay(0).settings.settingState, 3);
    Relay(1).settings.settingState = 1;
    EXPECT_EQ(Parse(WithCrc("02 06 00"), Request::SettingWrite), 1);
    EXPECT_EQ(Relay(1).settings.settingState, 1);
    // The same empty answer to a poll acknowledges nothing.
    Relay(2).settings.settingState = 2;
    EXPECT_EQ(Parse(WithCrc("03 06 00")), 1);
    EXPECT_EQ(Relay(2).settings.settingState, 2);
}

// ---- Answer 0xB1 and the other follow-ups.

TEST_F(AnswerDispatch, ChangesUpToTheFirstUnchangedGroup) {
    const std::string stamp = "03 20 07 15 08 30 05 50 02";
    EXPECT_EQ(Parse(WithCrc("01 B1 14 00 " + stamp + " 00 02 00 05 04 10 10 05 00 FF")), 1);
    const ChangeQueue& q = Relay(0).points.changeQueue;
    ASSERT_EQ(q.Count(), 2u);
    EXPECT_EQ(q.At(0).key, 10016);
    EXPECT_EQ(q.At(1).key, 10018);
    const StatusChange& c = q.At(0);
    EXPECT_EQ(c.source, 0xB1);
    EXPECT_EQ(c.state, 1);
    EXPECT_EQ(c.year, 2003);
    EXPECT_EQ(c.month, 7);
    EXPECT_EQ(c.day, 15);
    EXPECT_EQ(c.hour, 8);
    EXPECT_EQ(c.minute, 30);
    EXPECT_EQ(c.second, 5);
    EXPECT_EQ(c.millisecond, 250);
    EXPECT_EQ(Relay(0).conversation.nextCommand, Request::FollowUpPoll);
    EXPECT_EQ(state.priorityDevice, 0);
    EXPECT_EQ(state.stayCount, 1);

    // A change to 0 has the plain key; a group number beyond 63 is still reported.
    EXPECT_EQ(Parse(WithCrc("01 B1 11 00 " + stamp + " 00 01 01 00 FF 00 80")), 1);
    ASSERT_EQ(q.Count(), 4u);
    EXPECT_EQ(q.At(2).key, 8);
    EXPECT_EQ(q.At(2).state, 0);
    EXPECT_EQ(q.At(3).key, 8 * 255 + 7 + 10000);
}

TEST_F(AnswerDispatch, ChangeAnswerWithoutGroups) {
    const std::string stamp = "03 20 07 15 08 30 05 50 02";
    EXPECT_EQ(Parse(WithCrc("01 B1 0B 00 " + stamp + " 00")), 1);
    EXPECT_EQ(Parse(WithCrc("01 B1 0D 00 " + stamp + " 00 02 00")), 1);
    EXPECT_EQ(Relay(0).points.changeQueue.Count(), 0u);
    EXPECT_EQ(Relay(0).conversation.nextCommand, Request::FollowUpPoll);
}

TEST_F(AnswerDispatch, FollowUpGrants) {
    state.stayCount = 6;
    EXPECT_EQ(Parse(WithCrc("02 B0 00")), 1);
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::FollowUpPoll);
    EXPECT_EQ(state.priorityDevice, kNone);  // bounded: no more grants in a row
    EXPECT_EQ(state.stayCount, 6);

    EXPECT_EQ(Parse(WithCrc("02 BA 00")), 1);  // unbounded
    EXPECT_EQ(state.priorityDevice, 1);

    state.priorityDevice = kNone;
    EXPECT_EQ(Parse(WithCrc("03 04 00")), 1);
    EXPECT_EQ(state.stayCount, 0);
    EXPECT_EQ(Relay(2).conversation.nextCommand, Request::GeneralPoll);
}

// ---- Remote control.

TEST_F(AnswerDispatch, ControlConfirmationAndOutcome) {
    DeviceRecord& r = Relay(2);
    r.control.ykPoint = 1;
    r.control.ykCommand = 0xCC;
    r.control.step = ControlStep::SelectSent;
    EXPECT_EQ(Parse(WithCrc("03 C8 00"), Request::ControlSelect), 1);  // no data: not refused for that
    EXPECT_EQ(r.conversation.nextCommand, Request::ControlExecute);
    EXPECT_EQ(r.control.step, ControlStep::ExecuteWanted);
    EXPECT_EQ(state.priorityDevice, 2);

    struct Case {
        const char* answer;
        uint8_t executed;
        int32_t taken;
        int32_t ykAction;
    };
    const Case cases[] = {
        {"03 CA 03 00 01 CC", 0xCC, 1, 41},
        {"03 CA 03 00 01 AA", 0xAA, 1, 40},
        {"03 CA 03 00 01 55", 0xCC, 0, 7},  // not the executed command
        {"03 CA 03 00 01 AA", 0xCC, 0, 7},
        {"03 CA 03 00 02 CC", 0xCC, 0, 7},  // another point
        {"03 CA 02 34 00", 0xCC, 0, 7},     // no outcome byte; the CRC that follows is CC, not an outcome
    };
    for (const Case& c : cases) {
        r.control.ykAction = 7;
        r.control.ykCommand = c.executed;
        r.control.step = ControlStep::ExecuteSent;
        r.conversation.nextCommand = Request::ControlExecute;
        EXPECT_EQ(Parse(WithCrc(c.answer)), c.taken) << c.answer;
        EXPECT_EQ(r.control.ykAction, c.ykAction) << c.answer;
        EXPECT_EQ(r.conversation.nextCommand, Request::GeneralPoll) << c.answer;
    }
}

TEST_F(AnswerDispatch, ControlAnswersCountOnlyForTheirRequest) {
    DeviceRecord& r = Relay(0);
    // A late select answer to a general poll, after the select had failed.
    r.control.ykPoint = 2;
    r.control.ykCommand = 0xCC;
    EXPECT_EQ(Parse(WithCrc("01 C8 03 00 02 CC")), 0);
    EXPECT_EQ(r.conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(r.control.step, ControlStep::None);

    // The select's answer naming another point or command fails the select.
    for (const char* answer : {"01 C8 03 00 05 CC", "01 C8 03 00 02 AA"}) {
        r.control.step = ControlStep::SelectSent;
        EXPECT_EQ(Parse(WithCrc(answer), Request::ControlSelect), 0) << answer;
        EXPECT_EQ(r.conversation.nextCommand, Request::GeneralPoll) << answer;
        EXPECT_EQ(r.control.step, ControlStep::None) << answer;
    }
    // A select answered with anything but its confirmation failed too.
    r.control.step = ControlStep::SelectSent;
    EXPECT_EQ(Parse(WithCrc("01 04 00"), Request::ControlSelect), 0);
    EXPECT_EQ(r.control.step, ControlStep::None);

    // A result while no executed control awaits one changes nothing.
    r.control.ykAction = 7;
    EXPECT_EQ(Parse(WithCrc("01 CA 03 00 02 CC")), 0);
    EXPECT_EQ(r.control.ykAction, 7);
}

// ---- The other services' answers.

TEST_F(AnswerDispatch, SettingAndRecordingAnswersReachTheirServices) {
    Relay(1).conversation.nextCommand = Request::RecordingList;
    std::vector<uint8_t> list = WithCrc("02 C9 02 00 01");
    list.push_back(0xEE);  // a trailing byte is not part of the frame
    EXPECT_EQ(Parse(list, Request::RecordingList), 1);
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::RecordingList);  // the list is asked again

    Relay(1).conversation.nextCommand = Request::SettingRead;
    EXPECT_EQ(Parse(WithCrc("02 BD 01 00"), Request::SettingRead), 1);
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::GeneralPoll);
    Relay(1).conversation.nextCommand = Request::SettingRead;
    EXPECT_EQ(Parse(WithCrc("02 AD 01 00"), Request::SettingRead), 1);
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(Parse(WithCrc("03 CB 00"), Request::RecordingBlock), 1);
    EXPECT_EQ(Relay(2).conversation.nextCommand, Request::RecordingBlock);  // set by the handler

    ASSERT_EQ(handlers.calls.size(), 4u);
    EXPECT_EQ(handlers.calls[0].code, 0xC9);
    EXPECT_EQ(handlers.calls[0].relayAddress, 2);
    EXPECT_EQ(handlers.calls[0].frameSize, 7u);
    EXPECT_EQ(handlers.calls[1].code, 0xBD);
    EXPECT_EQ(handlers.calls[2].code, 0xAD);
    EXPECT_EQ(handlers.calls[3].code, 0xCB);
    EXPECT_EQ(handlers.calls[3].relayAddress, 3);

    // The same answers to a general poll reach no service.
    for (const char* answer : {"02 C9 02 00 01", "02 BD 01 00", "02 AD 01 00", "03 CB 00"}) {
        EXPECT_EQ(Parse(WithCrc(answer)), 0) << answer;
    }
    EXPECT_EQ(handlers.calls.size(), 4u);
}

// ---- Answers refused or ignored.

TEST_F(AnswerDispatch, UnknownCode) {
    Relay(0).conversation.nextCommand = Request::ControlSelect;
    Relay(0).conversation.unansweredCount = 4;
    EXPECT_EQ(Parse(WithCrc("01 77 00")), 1);
    EXPECT_EQ(Relay(0).conversation.nextCommand, Request::ControlSelect);
    EXPECT_EQ(Relay(0).conversation.unansweredCount, 0);
}

TEST_F(AnswerDispatch, BadCrcRestartsTheServedRelay) {
    state.currentDevice = 1;
    Relay(1).conversation.nextCommand = Request::ControlSelect;
    Relay(0).conversation.nextCommand = Request::FollowUpPoll;
    std::vector<uint8_t> answer = WithCrc("01 06 04 01 00 10 27");
    for (size_t crcByte : {answer.size() - 2, answer.size() - 1}) {
        std::vector<uint8_t> bad = answer;
        bad[crcByte] ^= 0x01;
        EXPECT_EQ(Parse(bad), 0);
    }
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::GeneralPoll);  // the relay the request went to
    EXPECT_EQ(Relay(0).conversation.nextCommand, Request::FollowUpPoll);
    EXPECT_EQ(Relay(0).points.ycValue[0], 0.0f);
    answer.pop_back();  // shorter than its length byte announces
    EXPECT_EQ(Parse(answer), 0);
}

TEST_F(AnswerDispatch, UnregisteredAddressAndEmptyAnswer) {
    state.currentDevice = 1;
    Relay(1).conversation.unansweredCount = 3;
    EXPECT_EQ(Parse(WithCrc("09 06 04 01 00 10 27")), 0);
    EXPECT_EQ(Parse(WithCrc("FF 04 00")), 0);  // record 3's initial address is not registered
    EXPECT_EQ(state.currentDevice, 1);
    EXPECT_EQ(Parse({}), 1);
    EXPECT_EQ(Relay(1).conversation.unansweredCount, 3);
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::GeneralPoll);
}

// ---- The probe's answer.

TEST_F(AnswerDispatch, ProbeDispatchesWithoutTouchingThePolling) {
    state.stayCount = 2;
    Relay(1).conversation.unansweredCount = 4;
    EXPECT_EQ(Probe(2, WithCrc("02 06 04 01 00 10 27")), 1);
    EXPECT_EQ(Relay(1).points.ycValue[0], 10000.0f);
    EXPECT_EQ(state.stayCount, 2);

    EXPECT_EQ(Probe(2, WithCrc("02 B1 0B 00 03 20 07 15 08 30 05 50 02 00")), 1);
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::FollowUpPoll);
    EXPECT_EQ(state.priorityDevice, kNone);
    EXPECT_EQ(state.stayCount, 2);
    EXPECT_EQ(Probe(2, WithCrc("02 C8 00")), 0);  // the probe selected nothing
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(state.priorityDevice, kNone);

    Relay(1).conversation.nextCommand = Request::RecordingList;
    EXPECT_EQ(Probe(2, WithCrc("02 77 00")), 1);  // an unknown code restarts the relay
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(Relay(1).conversation.unansweredCount, 4);
}

TEST_F(AnswerDispatch, ProbeRefusals) {
    Relay(1).conversation.nextCommand = Request::RecordingList;
    EXPECT_EQ(Probe(2, WithCrc("03 06 00")), 0);      // another relay answered
    EXPECT_EQ(Probe(9, WithCrc("09 06 00")), 0);      // not registered
    EXPECT_EQ(Probe(2, Hex("02 06 00 00 00")), 0);    // bad CRC: nothing changes
    EXPECT_EQ(Probe(2, {}), 0);
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::RecordingList);
    EXPECT_TRUE(handlers.calls.empty());
}

}  // namespace
