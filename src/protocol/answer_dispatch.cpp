#include "protocol/answer_dispatch.h"

#include "model/frame.h"
#include "model/freshness.h"
#include "protocol/answer_pairing.h"
#include "protocol/control_conversation.h"
#include "protocol/data_answers.h"
#include "protocol/setting_conversation.h"

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
              uint64_t answerTime, Caller caller) {
    switch (static_cast<Answer>(frame.at(1))) {
    case Answer::Nothing:
        relay.conversation.nextCommand = Request::GeneralPoll;
        ResetStay(state, caller);
        break;
    case Answer::Data:
        if (WriteAcknowledged(relay, frame)) SettingWriteAcknowledged(relay);
        StoreData(relay, frame, answerTime);
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
        ControlSelectConfirmed(relay);
        GrantPriority(state, caller);
        break;
    case Answer::RecordingList:
        handlers.StoreRecordingList(relay, frame);  // the list is asked again until a retrieval starts
        break;
    case Answer::ControlResult:
        ControlResultTaken(relay, frame.at(kControlResultOffset));
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

// Acts on a checked answer of `relay` when its conversation waits for it;
// an answer it doesn't wait for is refused and the relay starts afresh.
AnswerVerdict TakeAnswer(PollingState& state, AnswerHandlers& handlers, DeviceRecord& relay,
                         ByteView checked, uint64_t answerTime, Caller caller) {
    const ByteView frame = FrameOf(checked);
    const bool awaited = AnswerAwaited(relay, frame);
    if (awaited) {
        Dispatch(state, handlers, relay, frame, answerTime, caller);
        NoteAnswerTaken(state, relay, answerTime);
    } else {
        relay.conversation.nextCommand = Request::GeneralPoll;
        NoteExchangeFailed(relay);
    }
    const bool served = ExchangeEnded(relay);
    if (!awaited) return AnswerVerdict::Refused;
    return served ? AnswerVerdict::Taken : AnswerVerdict::PurposeFailed;
}

}  // namespace

AnswerVerdict TakeAnswer(PollingState& state, AnswerHandlers& handlers, ByteView answer,
                         uint64_t answerTime) {
    if (answer.empty()) return AnswerVerdict::NothingDue;
    DeviceRecord& asked = state.Current();
    if (CheckFrame(answer) == 0) {
        asked.conversation.nextCommand = Request::GeneralPoll;  // the relay the request went to starts afresh
        NoteExchangeFailed(asked);
        ExchangeEnded(asked);
        return AnswerVerdict::Refused;
    }
    const int32_t askedIndex = state.currentDevice;
    DeviceRecord* relay = state.FindDevice(answer.at(0));
    if (relay == nullptr || relay->conversation.awaiting == Request::None) {
        // A relay that was asked nothing: its frame answers no request.
        state.currentDevice = askedIndex;
        NoteExchangeFailed(asked);
        ExchangeEnded(asked);
        return AnswerVerdict::Refused;
    }
    const AnswerVerdict verdict = TakeAnswer(state, handlers, *relay, answer, answerTime, Caller::Packet);
    if (verdict != AnswerVerdict::Refused) relay->conversation.unansweredCount = 0;
    return verdict;
}

int32_t ParseAnswer(PollingState& state, AnswerHandlers& handlers, ByteView answer,
                    uint64_t answerTime) {
    const AnswerVerdict verdict = TakeAnswer(state, handlers, answer, answerTime);
    return verdict == AnswerVerdict::Taken || verdict == AnswerVerdict::NothingDue ? 1 : 0;
}

int32_t ParseProbeAnswer(PollingState& state, AnswerHandlers& handlers, uint8_t address,
                         ByteView answer, uint64_t answerTime) {
    if (answer.empty() || answer.at(0) != address) return 0;
    DeviceRecord* relay = state.FindDevice(address);
    if (relay == nullptr) return 0;
    if (CheckFrame(answer) == 0) return 0;
    relay->conversation.awaiting = Request::GeneralPoll;  // the probe is a general poll
    const AnswerVerdict verdict = TakeAnswer(state, handlers, *relay, answer, answerTime, Caller::Probe);
    return verdict == AnswerVerdict::Taken ? 1 : 0;
}

}  // namespace vorlan
