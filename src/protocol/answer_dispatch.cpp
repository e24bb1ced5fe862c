#include "protocol/answer_dispatch.h"

#include "protocol/data_answers.h"
#include "model/frame.h"

namespace vorlan {

namespace {

constexpr int32_t kMaxStay = 6;  // out-of-turn follow-ups granted in a row
constexpr size_t kControlResultOffset = kFrameHeader + 2;

enum class Caller { Packet, Probe };

// Gives the answering relay its next request out of turn.
void GrantPriority(PollingState& state, Caller caller) {
    if (caller == Caller::Packet) state.priorityDevice = state.currentDevice;
}

void GrantBoundedPriority(PollingState& state, Caller caller) {
    if (caller == Caller::Packet && state.stayCount < kMaxStay) {
        state.stayCount += 1;
        state.priorityDevice = state.currentDevice;
    }
}

void ResetStay(PollingState& state, Caller caller) {
    if (caller == Caller::Packet) state.stayCount = 0;
}

// Acts on the code of `frame`, a checked answer of `relay`, the current relay.
// The handler runs first, then the relay's next request is set.
void Dispatch(PollingState& state, AnswerHandlers& handlers, DeviceRecord& relay, ByteView frame,
              Caller caller) {
    switch (static_cast<Answer>(frame.at(1))) {
    case Answer::Nothing:
        relay.conversation.nextCommand = Request::GeneralPoll;
        ResetStay(state, caller);
        break;
    case Answer::Data:
        StoreData(relay, frame);
        relay.conversation.nextCommand = Request::GeneralPoll;
        ResetStay(state, caller);
        break;
    case Answer::SettingsFloat:
        handlers.StoreSettingValues(relay, frame);
        relay.conversation.nextCommand = Request::GeneralPoll;
        break;
    case Answer::Accepted:
        relay.conversation.nextCommand = Request::FollowUpPoll;
        GrantBoundedPriority(state, caller);
        break;
    case Answer::StatusChanges:
        StoreChanges(relay, frame);
        relay.conversation.nextCommand = Request::FollowUpPoll;
        GrantBoundedPriority(state, caller);
        break;
    case Answer::FollowUp:
        relay.conversation.nextCommand = Request::FollowUpPoll;
        GrantPriority(state, caller);
        break;
    case Answer::SettingsCoded:
        handlers.StoreCodedSettings(relay, frame);
        relay.conversation.nextCommand = Request::GeneralPoll;
        break;
    case Answer::ControlSelected:
        relay.conversation.nextCommand = Request::ControlExecute;
        GrantPriority(state, caller);
        break;
    case Answer::RecordingList:
        handlers.StoreRecordingList(relay, frame);  // the list is asked again until a retrieval starts
        break;
    case Answer::ControlResult:
        if (frame.at(2) >= 3) {
            const uint8_t done = frame.at(kControlResultOffset);
            if (done == 0xCC) relay.control.ykAction = 41;
            if (done == 0xAA) relay.control.ykAction = 40;
        }
        relay.conversation.nextCommand = Request::GeneralPoll;
        break;
    case Answer::RecordingBlock:
        handlers.StoreRecordingBlock(relay, frame);  // sets nextCommand itself
        break;
    default:
        if (caller == Caller::Probe) relay.conversation.nextCommand = Request::GeneralPoll;
        break;
    }
}

// The frame at the start of a checked buffer, without any bytes after it.
ByteView FrameOf(ByteView checked) { return checked.Sub(0, checked.at(2) + kFrameOverhead); }

}  // namespace

int32_t ParseAnswer(PollingState& state, AnswerHandlers& handlers, ByteView answer) {
    if (answer.empty()) return 1;  // the request is repeated on the relay's next turn
    if (CheckFrame(answer) == 0) {
        state.Current().conversation.nextCommand = Request::GeneralPoll;  // the relay the request went to starts afresh
        return 0;
    }
    DeviceRecord* relay = state.FindDevice(answer.at(0));
    if (relay == nullptr) return 0;
    Dispatch(state, handlers, *relay, FrameOf(answer), Caller::Packet);
    relay->conversation.unansweredCount = 0;
    return 1;
}

int32_t ParseProbeAnswer(PollingState& state, AnswerHandlers& handlers, uint8_t address,
                         ByteView answer) {
    if (answer.empty() || answer.at(0) != address) return 0;
    DeviceRecord* relay = state.FindDevice(address);
    if (relay == nullptr) return 0;
    if (CheckFrame(answer) == 0) return 0;
    Dispatch(state, handlers, *relay, FrameOf(answer), Caller::Probe);
    return 1;
}

}  // namespace vorlan
