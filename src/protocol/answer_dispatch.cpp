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
    switch (frame.at(1)) {
    case 0x04:
        relay.nextCommand = 0x83;
        ResetStay(state, caller);
        break;
    case 0x06:
        StoreData(relay, frame);
        relay.nextCommand = 0x83;
        ResetStay(state, caller);
        break;
    case 0xAD:
        handlers.StoreSettingValues(relay, frame);
        relay.nextCommand = 0x83;
        break;
    case 0xB0:
        relay.nextCommand = 0x8A;
        GrantBoundedPriority(state, caller);
        break;
    case 0xB1:
        StoreChanges(relay, frame);
        relay.nextCommand = 0x8A;
        GrantBoundedPriority(state, caller);
        break;
    case 0xBA:
        relay.nextCommand = 0x8A;
        GrantPriority(state, caller);
        break;
    case 0xBD:
        handlers.StoreCodedSettings(relay, frame);
        relay.nextCommand = 0x83;
        break;
    case 0xC8:
        relay.nextCommand = 0x9A;
        GrantPriority(state, caller);
        break;
    case 0xC9:
        handlers.StoreRecordingList(relay, frame);  // the list is asked again until a retrieval starts
        break;
    case 0xCA:
        if (frame.at(2) >= 3) {
            const uint8_t done = frame.at(kControlResultOffset);
            if (done == 0xCC) relay.ykAction = 41;
            if (done == 0xAA) relay.ykAction = 40;
        }
        relay.nextCommand = 0x83;
        break;
    case 0xCB:
        handlers.StoreRecordingBlock(relay, frame);  // sets nextCommand itself
        break;
    default:
        if (caller == Caller::Probe) relay.nextCommand = 0x83;
        break;
    }
}

// The frame at the start of a checked buffer, without any bytes after it.
ByteView FrameOf(ByteView checked) { return checked.Sub(0, checked.at(2) + kFrameOverhead); }

}  // namespace

int32_t ParseAnswer(PollingState& state, AnswerHandlers& handlers, ByteView answer) {
    if (answer.empty()) return 1;  // the request is repeated on the relay's next turn
    if (CheckFrame(answer) == 0) {
        state.Current().nextCommand = 0x83;  // the relay the request went to starts afresh
        return 0;
    }
    DeviceRecord* relay = state.FindDevice(answer.at(0));
    if (relay == nullptr) return 0;
    Dispatch(state, handlers, *relay, FrameOf(answer), Caller::Packet);
    relay->unansweredCount = 0;
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
