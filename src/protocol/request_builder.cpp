// SPDX-License-Identifier: Apache-2.0
#include "protocol/request_builder.h"

#include <cstring>

#include "model/frame.h"
#include "model/recording_limits.h"
#include "model/silent_backoff.h"
#include "protocol/answer_pairing.h"
#include "protocol/codecs.h"
#include "protocol/control_conversation.h"
#include "protocol/setting_conversation.h"

namespace vorlan {

namespace {

constexpr int32_t kTimeSyncInterval = 300;      // polls between time synchronisations
constexpr int32_t kMaxStay = 6;                 // out-of-turn grants before the turn moves on
constexpr int32_t kLastWatchStep = 13;          // the control watch runs steps 1..13
constexpr int32_t kConfirmAfterWrite = 3;       // 0x8F on the second request after 0x8C
constexpr int32_t kUnansweredWrap = 18000;
constexpr int32_t kExpectAnswer = 3;
constexpr int32_t kExpectSettingAnswer = 248;
constexpr size_t kFloatWriteHeader = 4;         // 00, zone, count, byte count

int32_t RelayCount(const PollingState& state) {
    if (state.deviceCount <= 0) return 0;
    return state.deviceCount < kMaxDevices ? state.deviceCount : kMaxDevices;
}

bool Registered(int32_t index, int32_t count) { return index >= 0 && index < count; }

// Whether the host asked something of the relay that its turn must carry:
// a setting read, write or zone switch, a write's confirmation, a recording
// list or retrieval, a control step. Plain polls are not host work.
bool HostWorkWaiting(const DeviceRecord& r) {
    if (RecordingHasMoreSamples(r)) return true;
    if (r.settings.settingState == VORLAN_SETTING_SWITCHING) return true;
    if (r.conversation.writeConfirmCountdown != 0) return true;
    const Request code = r.conversation.nextCommand;
    if (code == Request::GeneralPoll || code == Request::FollowUpPoll || code == Request::None) return false;
    return ControlRequestAllowed(r, code);
}

// Whether the relay takes its turn: it is not backed off, its retry is due,
// or host work for it waits.
bool TakesTurn(const DeviceRecord& r, uint32_t tick) {
    return SilentRetryDue(r, tick) || HostWorkWaiting(r);
}

// Moves the turn past backed-off relays that don't take it. When none of
// the relays takes it, the one whose retry falls due first is served now:
// sending nothing would hand the host back an immediate failure on every
// Send, and a line where every relay is silent then costs what it costs
// without the back-off.
void SkipSilentRelays(PollingState& s, int32_t count, uint32_t tick) {
    int32_t soonest = s.currentDevice;
    int32_t soonestWait = INT32_MAX;
    for (int32_t n = 0; n < count; ++n) {
        const int32_t i = (s.currentDevice + n) % count;
        const DeviceRecord& r = s.devices[static_cast<size_t>(i)];
        if (TakesTurn(r, tick)) {
            s.currentDevice = i;
            return;
        }
        const int32_t wait = static_cast<int32_t>(r.conversation.retryDueTick - tick);
        if (wait < soonestWait) {
            soonestWait = wait;
            soonest = i;
        }
    }
    s.currentDevice = soonest;
}

// The backed-off relay whose retry is most overdue, or -1 when none is due.
int32_t DueRetry(const PollingState& s, int32_t count, uint32_t tick) {
    int32_t due = -1;
    int32_t longest = -1;
    for (int32_t i = 0; i < count; ++i) {
        const Conversation& c = s.devices[static_cast<size_t>(i)].conversation;
        if (!c.backedOff || !TickReached(tick, c.retryDueTick)) continue;
        const int32_t overdue = static_cast<int32_t>(tick - c.retryDueTick);
        if (overdue > longest) {
            longest = overdue;
            due = i;
        }
    }
    return due;
}

// Picks the relay of a line with silent relays: a retry that has fallen due
// goes out at once, out of turn (on a long line its turn may be seconds
// away), and the rotation then resumes where it was; otherwise the next relay
// in turn that takes it. A running control watch or a pending priority keeps
// the turn as it is: they choose after this.
void ChooseAmongSilent(PollingState& s, int32_t count, uint32_t tick) {
    const bool watchRunning = s.controlWatchDevice != kNone && s.controlWatch == 1 && s.controlWatchStep > 0;
    if (!watchRunning && s.priorityDevice == kNone) {
        const int32_t due = DueRetry(s, count, tick);
        if (due >= 0 && due != s.currentDevice) {
            s.resumeTurn = s.currentDevice;
            s.currentDevice = due;
            return;
        }
    }
    SkipSilentRelays(s, count, tick);
}

// Stage 1: the next relay in turn (past backed-off silent relays), unless the
// control watch or a pending priority names another. Only registered relays
// are served: a watch or a priority naming a record beyond them is dropped.
// Needs count > 0.
void ChooseRelay(PollingState& s, uint32_t tick) {
    const int32_t count = RelayCount(s);
    if (s.resumeTurn != kNone) {
        // The last request was a retry out of turn: the turn it skipped comes now.
        s.currentDevice = s.resumeTurn - 1;
        s.resumeTurn = kNone;
    }
    s.currentDevice += 1;
    if (s.currentDevice >= count || s.currentDevice < 0) s.currentDevice = 0;
    if (s.silentBackoff) ChooseAmongSilent(s, count, tick);

    if (s.controlWatchDevice != kNone && !Registered(s.controlWatchDevice, count)) {
        if (s.controlWatchDevice >= 0 && s.controlWatchDevice < kMaxDevices) {
            ControlWatchEnded(s.devices[static_cast<size_t>(s.controlWatchDevice)]);
        }
        s.controlWatch = 0;
        s.controlWatchStep = 0;
        s.controlWatchDevice = kNone;
    }
    if (s.controlWatchStep > kLastWatchStep) s.controlWatchStep = 0;
    if (s.controlWatchDevice != kNone && s.controlWatch == 1 && s.controlWatchStep > 0) {
        const int32_t step = s.controlWatchStep;
        if (step == kLastWatchStep) {
            s.currentDevice = s.controlWatchDevice;
            ControlWatchEnded(s.devices[static_cast<size_t>(s.controlWatchDevice)]);
            s.controlWatchStep = 0;
            s.controlWatch = 0;
            s.controlWatchDevice = kNone;
        } else if (step % 2 == 1) {
            s.currentDevice = s.controlWatchDevice;
        } else {
            s.currentDevice = (step / 2 + s.controlWatchDevice) % count;
        }
    }

    if (s.stayCount >= kMaxStay) {
        s.stayCount = 0;
        s.priorityDevice = kNone;
    }
    if (s.priorityDevice != kNone) {
        if (Registered(s.priorityDevice, count)) s.currentDevice = s.priorityDevice;
        s.priorityDevice = kNone;
    }
}

// Stage 2: the command for R, with the builder's own substitutions. No time
// synchronisation is substituted on a line whose relays follow a station clock.
Request ChooseCommand(DeviceRecord& r, bool timeSync) {
    if (RecordingHasMoreSamples(r)) {
        r.conversation.nextCommand = Request::RecordingBlock;  // a running retrieval continues on every turn
    }
    SettingReadDue(r);
    // A control step goes out only while it is the control's next one: a
    // select the host still wants, an execute its select's confirmation asked for.
    if (!ControlRequestAllowed(r, r.conversation.nextCommand)) {
        r.conversation.nextCommand = Request::GeneralPoll;
    }
    Request code = r.conversation.nextCommand;
    if (r.conversation.pollCount < INT32_MAX) r.conversation.pollCount += 1;
    if (timeSync && r.conversation.pollCount > kTimeSyncInterval && code == Request::GeneralPoll) {
        code = Request::TimeSync;
        r.conversation.pollCount = 0;
    }
    if (r.conversation.writeConfirmCountdown != 0) {
        r.conversation.writeConfirmCountdown += 1;
        if (r.conversation.writeConfirmCountdown >= kConfirmAfterWrite) {
            code = Request::SettingConfirm;  // wins over a time synchronisation due in the same call
            r.conversation.writeConfirmCountdown = 0;
        }
    }
    return code;
}

int32_t Finish(ByteWriter& w) {
    if (!AppendCrc(w) || !w.ok()) return 0;
    return static_cast<int32_t>(w.size());
}

// A frame of `code` carrying 00 and `zone`.
int32_t ZoneFrame(ByteWriter& w, uint8_t address, Request code, uint8_t zone) {
    const uint8_t bytes[] = {address, Code(code), 0x02, 0x00, zone};
    w.PutBytes(bytes, sizeof bytes);
    return Finish(w);
}

int32_t ControlFrame(ByteWriter& w, uint8_t address, Request code, const DeviceRecord& r) {
    const uint8_t bytes[] = {address, Code(code), 0x03, 0x00, static_cast<uint8_t>(r.control.ykPoint),
                             static_cast<uint8_t>(r.control.ykCommand)};
    w.PutBytes(bytes, sizeof bytes);
    return Finish(w);
}

int32_t EmptyFrame(ByteWriter& w, uint8_t address, Request code) {
    const uint8_t bytes[] = {address, Code(code), 0x00};
    w.PutBytes(bytes, sizeof bytes);
    return Finish(w);
}

int32_t SlotCount(int32_t n) {
    if (n <= 0) return 0;
    return n < kSettingSlots ? n : kSettingSlots;
}

// The descriptor as the relay sent it, with bit 7 following the (possibly
// edited) flag: clear when the setting is on.
uint8_t WriteDescriptor(const DeviceRecord& r, size_t k) {
    const uint8_t descriptor = r.settings.settingDescriptor[k];
    return r.settings.settingFlag[k] != 0 ? static_cast<uint8_t>(descriptor & 0x7F)
                                          : static_cast<uint8_t>(descriptor | 0x80);
}

// Entries of one and two value bytes go back in the encoding they were read
// in: code, descriptor, packed-decimal value. False when a value doesn't fit
// its slot exactly: the table is then refused whole rather than sent with
// that setting changed.
bool PutPackedDecimalEntries(ByteWriter& w, const DeviceRecord& r) {
    const int32_t count = SlotCount(r.settings.settingCount);
    for (int32_t i = 0; i < count && w.ok(); ++i) {
        const size_t k = static_cast<size_t>(i);
        const uint8_t length = r.settings.settingLength[k];
        if (length != 1 && length != 2) continue;
        const float value = r.settings.settingValue[k];
        const uint8_t decimals = r.settings.settingDecimals[k];
        uint8_t entry[4] = {r.settings.settingCode[k], WriteDescriptor(r, k), 0, 0};
        const bool fits = length == 2 ? EncodeSettingBcd(value, decimals, entry + 2)
                                      : EncodeSettingBcdByte(value, decimals, entry[2]);
        if (!fits) return false;
        w.PutBytes(entry, 2 + static_cast<size_t>(length));
    }
    return true;
}

void PutFloatValues(ByteWriter& w, const DeviceRecord& r, int32_t count, int32_t byteCount) {
    for (int32_t i = 0; i < count && w.ok(); ++i) {
        uint8_t bytes[4];
        PutFloat(r.settings.settingValue[static_cast<size_t>(i)], bytes);
        w.PutBytes(bytes, sizeof bytes);
    }
    w.PutBytes(r.settings.settingFlag.data(), static_cast<size_t>(byteCount));
}

int32_t RecordingBlockFrame(ByteWriter& w, uint8_t address, const DeviceRecord& r) {
    const uint8_t bytes[] = {address, Code(Request::RecordingBlock), 0x07};
    w.PutBytes(bytes, sizeof bytes);
    w.PutLe(static_cast<uint32_t>(r.recording.lbRequestId), 4);
    w.PutLe(r.recording.lbNextSample, 2);
    w.Put(0x05);
    return Finish(w);
}

// Sets the relay's clock to UTC now as the relays' zone reads it.
int32_t TimeSyncFrame(ByteWriter& w, uint8_t address, Clock& clock, const RelayZone& zone) {
    const uint8_t bytes[] = {address, Code(Request::TimeSync), static_cast<uint8_t>(kTimeStampSize)};
    w.PutBytes(bytes, sizeof bytes);
    WriteTimeStamp(w, zone.FieldsAt(clock.NowFileTime()));
    return Finish(w);
}

int32_t ResetFrame(ByteWriter& w) {
    const uint8_t bytes[] = {kBroadcastAddress, Code(Request::Reset), 0x01, 0x00};
    w.PutBytes(bytes, sizeof bytes);
    return Finish(w);
}

// Writes the frame of `code` for the current relay and returns its length
// (0: nothing to send). Writes nothing into the polling state.
int32_t WriteRequestFrame(PollingState& state, Clock& clock, Request code, uint8_t* frame, size_t capacity) {
    const DeviceRecord& r = state.Current();
    ByteWriter w(frame, frame != nullptr ? capacity : 0);
    const uint8_t a = r.address;
    switch (code) {
    case Request::Reset: return ResetFrame(w);
    case Request::TimeSync: return TimeSyncFrame(w, a, clock, state.relayZone);
    case Request::GeneralPoll:
    case Request::FollowUpPoll:
    case Request::RecordingList: return EmptyFrame(w, a, code);
    case Request::SettingRead:
    case Request::SettingConfirm:
    case Request::ZoneSwitch: return ZoneFrame(w, a, code, r.settings.settingZone);
    case Request::SettingWrite: return BuildSettingWrite(state, frame, capacity);
    case Request::ControlSelect:
    case Request::ControlExecute: return ControlFrame(w, a, code, r);
    case Request::RecordingBlock: return RecordingBlockFrame(w, a, r);
    default: return 0;  // no request for this code
    }
}

// The answer length the exchange is told to expect; requests not named here
// leave the caller's value as it is.
void SetExpectedLength(Request code, int32_t& expectedLength) {
    switch (code) {
    case Request::Reset:
    case Request::TimeSync: expectedLength = 0; break;  // no answer comes
    case Request::GeneralPoll:
    case Request::SettingRead:
    case Request::FollowUpPoll:
    case Request::ControlSelect:
    case Request::ControlExecute: expectedLength = kExpectAnswer; break;
    case Request::SettingWrite: expectedLength = kExpectSettingAnswer; break;
    default: break;
    }
}

// What the request just built sets in motion: the next command, the control
// watch, the write confirmation, the count of unanswered requests.
void AfterRequest(PollingState& state, Request code, int32_t length) {
    DeviceRecord& r = state.Current();
    switch (code) {
    case Request::Reset:
        r.conversation.nextCommand = Request::GeneralPoll;  // one-shot: the broadcast gets no answer to reset it
        break;
    case Request::GeneralPoll:
        if (state.controlWatch == 1) {
            state.controlWatchStep += 1;
            if (state.controlWatchStep > kLastWatchStep) state.controlWatchStep = 0;
        }
        break;
    case Request::SettingWrite:
        if (length > 0) {
            r.conversation.writeConfirmCountdown = 1;
            r.conversation.nextCommand = Request::None;  // nothing more until an answer or a write sets a request
        } else {
            // A refused write sends nothing, so nothing is confirmed, and no
            // answer will come to end the wait: the relay is polled again.
            r.conversation.nextCommand = Request::GeneralPoll;
        }
        break;
    case Request::ZoneSwitch:
        ZoneSwitchWritten(r);  // the zone's settings are read next
        break;
    case Request::ControlExecute:
        if (state.controlWatchDevice != kNone && state.controlWatchDevice != state.currentDevice &&
            state.controlWatchDevice >= 0 && state.controlWatchDevice < kMaxDevices) {
            ControlWatchEnded(state.devices[static_cast<size_t>(state.controlWatchDevice)]);
        }
        state.controlWatch = 1;
        state.controlWatchDevice = state.currentDevice;
        break;
    default:
        break;
    }
    if (length > 0 && code != Request::Reset) RequestWritten(r, code);
    r.conversation.unansweredCount = (r.conversation.unansweredCount % kUnansweredWrap) + 1;
}

}  // namespace

int32_t BuildSettingWrite(PollingState& state, uint8_t* frame, size_t capacity) {
    DeviceRecord& r = state.Current();
    if (frame == nullptr) return 0;
    // A writer no larger than one frame: a table that doesn't fit is refused
    // whole, never sent cut short to a protection relay.
    ByteWriter w(frame, capacity < kMaxFrame ? capacity : kMaxFrame);
    if (r.settings.settingAnswerCode == Code(Answer::SettingsCoded)) {
        const uint8_t header[] = {r.address, Code(Request::SettingWrite), 0x00, 0x00, r.settings.settingZone};
        w.PutBytes(header, sizeof header);
        const bool exact = PutPackedDecimalEntries(w, r);
        const size_t data = w.size() - kFrameHeader;
        if (!exact || !w.ok() || data > kMaxFrameData) {
            std::memset(frame, 0, w.size());
            return 0;
        }
        w.Set(2, static_cast<uint8_t>(data));
    } else if (r.settings.settingAnswerCode == Code(Answer::SettingsFloat)) {
        const int32_t count = SlotCount(r.settings.settingCount);
        const int32_t byteCount = SlotCount(r.settings.settingByteCount);
        const size_t data = kFloatWriteHeader + 4 * static_cast<size_t>(count) +
                            static_cast<size_t>(byteCount);
        if (data > kMaxFrameData) return 0;
        const uint8_t header[] = {r.address, Code(Request::SettingWrite), static_cast<uint8_t>(data), 0x00,
                                  r.settings.settingZone, static_cast<uint8_t>(count),
                                  static_cast<uint8_t>(byteCount)};
        w.PutBytes(header, sizeof header);
        PutFloatValues(w, r, count, byteCount);
    } else {
        return 0;  // the relay has sent no settings yet
    }
    const int32_t length = Finish(w);
    if (length == 0) std::memset(frame, 0, w.size());  // no half-built frame left behind
    return length;
}

int32_t BuildRequest(PollingState& state, Clock& clock, FrameBuffer& buffer) {
    uint8_t* const frame = buffer.data;
    const size_t capacity = buffer.capacity;
    int32_t& length = buffer.length;
    int32_t& expectedLength = buffer.expectedLength;
    length = 0;
    if (RelayCount(state) == 0) return 0;  // nobody to ask: nothing is built
    ChooseRelay(state, clock.TickMs());
    const Request code = ChooseCommand(state.Current(), state.timeSync);
    length = WriteRequestFrame(state, clock, code, frame, capacity);
    SetExpectedLength(code, expectedLength);
    AfterRequest(state, code, length);
    return 1;
}

int32_t BuildProbe(uint8_t address, uint8_t* frame, size_t capacity) {
    ByteWriter w(frame, frame != nullptr ? capacity : 0);
    return EmptyFrame(w, address, Request::GeneralPoll);
}

}  // namespace vorlan
