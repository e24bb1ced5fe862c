#include "protocol/answer_pairing.h"

#include "model/frame.h"
#include "protocol/control_conversation.h"

namespace vorlan {
namespace {

// What an answer needs before it may act on the relay's conversation.
enum class Needs : uint8_t {
    Nothing,         // data only: stored from the relay asked
    SettingRead,     // the relay's 0x85 is on the line
    SettingWrite,    // its 0x8C or the 0x8F that confirms it
    ControlSelect,   // its 0x98, with that select's point and command
    ControlResult,   // its executed control awaits the outcome, same command
    RecordingList,   // its 0x99
    RecordingBlock,  // its 0x9B
};

struct Pairing {
    Answer answer;
    Needs needs;
};

constexpr Pairing kPairings[] = {
    {Answer::Nothing, Needs::Nothing},
    {Answer::Data, Needs::Nothing},  // without data: the write's acknowledgement, below
    {Answer::Accepted, Needs::Nothing},
    {Answer::StatusChanges, Needs::Nothing},
    {Answer::FollowUp, Needs::Nothing},
    {Answer::SettingsFloat, Needs::SettingRead},
    {Answer::SettingsCoded, Needs::SettingRead},
    {Answer::ControlSelected, Needs::ControlSelect},
    {Answer::ControlResult, Needs::ControlResult},
    {Answer::RecordingList, Needs::RecordingList},
    {Answer::RecordingBlock, Needs::RecordingBlock},
};

constexpr size_t kControlPoint = kFrameHeader + 1;    // data: 00, point, command
constexpr size_t kControlCommand = kFrameHeader + 2;

Needs NeedsOf(ByteView frame) {
    const uint8_t code = frame.at(1);
    if (code == Code(Answer::Data) && frame.at(2) == 0) return Needs::SettingWrite;
    for (const Pairing& p : kPairings) {
        if (Code(p.answer) == code) return p.needs;
    }
    return Needs::Nothing;  // codes the driver doesn't act on
}

// The point and command the answer names match the control's; an answer
// too short to name them has `short_ok` as its verdict.
bool NamesControl(const DeviceRecord& relay, ByteView frame, bool shortOk) {
    if (frame.at(2) < 3) return shortOk;
    return frame.at(kControlPoint) == static_cast<uint8_t>(relay.control.ykPoint) &&
           frame.at(kControlCommand) == static_cast<uint8_t>(relay.control.ykCommand);
}

}  // namespace

void RequestWritten(DeviceRecord& relay, Request code) {
    relay.conversation.awaiting = code;
    ControlRequestWritten(relay, code);
}

bool AnswerAwaited(const DeviceRecord& relay, ByteView frame) {
    const Request asked = relay.conversation.awaiting;
    switch (NeedsOf(frame)) {
    case Needs::Nothing: return true;
    case Needs::SettingRead: return asked == Request::SettingRead;
    case Needs::SettingWrite:
        // An empty 0x06 to anything else acknowledges nothing; it carries no
        // data either, so taking it changes nothing.
        return true;
    case Needs::ControlSelect:
        return asked == Request::ControlSelect && relay.control.step == ControlStep::SelectSent &&
               NamesControl(relay, frame, true);
    case Needs::ControlResult:
        return relay.control.step == ControlStep::ExecuteSent && NamesControl(relay, frame, false);
    case Needs::RecordingList: return asked == Request::RecordingList;
    case Needs::RecordingBlock: return asked == Request::RecordingBlock;
    }
    return false;
}

bool WriteAcknowledged(const DeviceRecord& relay, ByteView frame) {
    const Request asked = relay.conversation.awaiting;
    return NeedsOf(frame) == Needs::SettingWrite &&
           (asked == Request::SettingWrite || asked == Request::SettingConfirm);
}

bool ExchangeEnded(DeviceRecord& relay) {
    relay.conversation.awaiting = Request::None;
    return ControlExchangeEnded(relay);
}

}  // namespace vorlan
