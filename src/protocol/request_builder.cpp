#include "protocol/request_builder.h"

#include <cmath>
#include <cstring>

#include "model/recording_limits.h"
#include "protocol/codecs.h"
#include "model/frame.h"

namespace vorlan {

namespace {

constexpr int32_t kTimeSyncInterval = 300;      // polls between time synchronisations
constexpr int32_t kMaxStay = 6;                 // out-of-turn grants before the turn moves on
constexpr int32_t kLastWatchStep = 13;          // the control watch runs steps 1..13
constexpr int32_t kConfirmAfterWrite = 3;       // 0x8F on the second request after 0x8C
constexpr int32_t kUnansweredWrap = 18000;
constexpr int32_t kExpectAnswer = 3;
constexpr int32_t kExpectSettingAnswer = 248;
constexpr uint8_t kAdLayout = 0xAD;             // float setting layout
constexpr uint8_t kBdLayout = 0xBD;             // packed-decimal setting layout
constexpr size_t kFloatWriteHeader = 4;         // 00, zone, count, byte count

int32_t RelayCount(const PollingState& state) {
    if (state.deviceCount <= 0) return 0;
    return state.deviceCount < kMaxDevices ? state.deviceCount : kMaxDevices;
}

bool Registered(int32_t index, int32_t count) { return index >= 0 && index < count; }

// Stage 1: the next relay in turn, unless the control watch or a pending
// priority names another. Only registered relays are served: a watch or a
// priority naming a record beyond them is dropped. Needs count > 0.
void ChooseRelay(PollingState& s) {
    const int32_t count = RelayCount(s);
    s.currentDevice += 1;
    if (s.currentDevice >= count || s.currentDevice < 0) s.currentDevice = 0;

    if (s.controlWatchDevice != kNone && !Registered(s.controlWatchDevice, count)) {
        s.controlWatch = 0;
        s.controlWatchStep = 0;
        s.controlWatchDevice = kNone;
    }
    if (s.controlWatchStep > kLastWatchStep) s.controlWatchStep = 0;
    if (s.controlWatchDevice != kNone && s.controlWatch == 1 && s.controlWatchStep > 0) {
        const int32_t step = s.controlWatchStep;
        if (step == kLastWatchStep) {
            s.currentDevice = s.controlWatchDevice;
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

// Stage 2: the command for R, with the builder's own substitutions.
uint8_t ChooseCommand(DeviceRecord& r) {
    if (RecordingHasMoreSamples(r)) {
        r.nextCommand = 0x9B;  // a running retrieval continues on every turn
    }
    if (r.settingState == 4) {
        r.nextCommand = 0x85;
        r.settingState = 0;
    }
    uint8_t code = r.nextCommand;
    if (r.pollCount < INT32_MAX) r.pollCount += 1;
    if (r.pollCount > kTimeSyncInterval && code == 0x83) {
        code = 0x81;
        r.pollCount = 0;
    }
    if (r.writeConfirmCountdown != 0) {
        r.writeConfirmCountdown += 1;
        if (r.writeConfirmCountdown >= kConfirmAfterWrite) {
            code = 0x8F;  // wins over a time synchronisation due in the same call
            r.writeConfirmCountdown = 0;
        }
    }
    return code;
}

int32_t Finish(ByteWriter& w) {
    if (!AppendCrc(w) || !w.ok()) return 0;
    return static_cast<int32_t>(w.size());
}

// A frame of `code` carrying 00 and `zone`.
int32_t ZoneFrame(ByteWriter& w, uint8_t address, uint8_t code, uint8_t zone) {
    const uint8_t bytes[] = {address, code, 0x02, 0x00, zone};
    w.PutBytes(bytes, sizeof bytes);
    return Finish(w);
}

int32_t ControlFrame(ByteWriter& w, uint8_t address, uint8_t code, const DeviceRecord& r) {
    const uint8_t bytes[] = {address, code, 0x03, 0x00, static_cast<uint8_t>(r.ykPoint),
                             static_cast<uint8_t>(r.ykCommand)};
    w.PutBytes(bytes, sizeof bytes);
    return Finish(w);
}

int32_t EmptyFrame(ByteWriter& w, uint8_t address, uint8_t code) {
    const uint8_t bytes[] = {address, code, 0x00};
    w.PutBytes(bytes, sizeof bytes);
    return Finish(w);
}

// Low byte of the value cut toward zero; a value beyond any integer gives 0.
uint8_t TruncatedLowByte(float value) {
    const double t = std::trunc(static_cast<double>(value));
    if (!(t > -2147483648.0 && t < 2147483648.0)) return 0;
    return static_cast<uint8_t>(static_cast<int32_t>(t));
}

int32_t SlotCount(int32_t n) {
    if (n <= 0) return 0;
    return n < kSettingSlots ? n : kSettingSlots;
}

// False when a packed-decimal value doesn't fit its slot exactly: the table
// is then refused whole rather than sent with that setting changed.
bool PutPackedDecimalEntries(ByteWriter& w, const DeviceRecord& r) {
    const int32_t count = SlotCount(r.settingCount);
    for (int32_t i = 0; i < count && w.ok(); ++i) {
        const size_t k = static_cast<size_t>(i);
        if (r.settingLength[k] == 2) {
            uint8_t descriptor = r.settingDescriptor[k];
            descriptor = r.settingFlag[k] != 0 ? static_cast<uint8_t>(descriptor & 0x7F)
                                               : static_cast<uint8_t>(descriptor | 0x80);
            uint8_t value[2];
            if (!EncodeSettingBcd(r.settingValue[k], r.settingDecimals[k], value)) return false;
            const uint8_t entry[] = {r.settingCode[k], descriptor, value[0], value[1]};
            w.PutBytes(entry, sizeof entry);
        } else if (r.settingLength[k] == 1) {
            const uint8_t entry[] = {1, r.settingDescriptor[k], TruncatedLowByte(r.settingValue[k])};
            w.PutBytes(entry, sizeof entry);
        }
    }
    return true;
}

void PutFloatValues(ByteWriter& w, const DeviceRecord& r, int32_t count, int32_t byteCount) {
    for (int32_t i = 0; i < count && w.ok(); ++i) {
        uint8_t bytes[4];
        PutFloat(r.settingValue[static_cast<size_t>(i)], bytes);
        w.PutBytes(bytes, sizeof bytes);
    }
    w.PutBytes(r.settingFlag.data(), static_cast<size_t>(byteCount));
}

}  // namespace

int32_t BuildSettingWrite(PollingState& state, uint8_t* frame, size_t capacity) {
    DeviceRecord& r = state.Current();
    if (frame == nullptr) return 0;
    // A writer no larger than one frame: a table that doesn't fit is refused
    // whole, never sent cut short to a protection relay.
    ByteWriter w(frame, capacity < kMaxFrame ? capacity : kMaxFrame);
    if (r.settingAnswerCode == kBdLayout) {
        const uint8_t header[] = {r.address, 0x8C, 0x00, 0x00, r.settingZone};
        w.PutBytes(header, sizeof header);
        const bool exact = PutPackedDecimalEntries(w, r);
        const size_t data = w.size() - kFrameHeader;
        if (!exact || !w.ok() || data > kMaxFrameData) {
            std::memset(frame, 0, w.size());
            return 0;
        }
        w.Set(2, static_cast<uint8_t>(data));
    } else if (r.settingAnswerCode == kAdLayout) {
        const int32_t count = SlotCount(r.settingCount);
        const int32_t byteCount = SlotCount(r.settingByteCount);
        const size_t data = kFloatWriteHeader + 4 * static_cast<size_t>(count) +
                            static_cast<size_t>(byteCount);
        if (data > kMaxFrameData) return 0;
        const uint8_t header[] = {r.address, 0x8C, static_cast<uint8_t>(data), 0x00,
                                  r.settingZone, static_cast<uint8_t>(count),
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

int32_t BuildRequest(PollingState& state, Clock& clock, uint8_t* frame, size_t capacity,
                     int32_t& length, int32_t& expectedLength) {
    length = 0;
    if (RelayCount(state) == 0) return 0;  // nobody to ask: nothing is built
    ChooseRelay(state);
    DeviceRecord& r = state.devices[static_cast<size_t>(state.currentDevice)];
    const uint8_t code = ChooseCommand(r);

    ByteWriter w(frame, frame != nullptr ? capacity : 0);
    const uint8_t a = r.address;
    switch (code) {
    case 0x80: {
        const uint8_t bytes[] = {kBroadcastAddress, 0x80, 0x01, 0x00};
        w.PutBytes(bytes, sizeof bytes);
        length = Finish(w);
        expectedLength = 0;
        r.nextCommand = 0x83;  // one-shot: the broadcast gets no answer to reset it
        break;
    }
    case 0x81: {
        const uint8_t bytes[] = {a, 0x81, static_cast<uint8_t>(kTimeStampSize)};
        w.PutBytes(bytes, sizeof bytes);
        WriteTimeStamp(w, clock.NowLocal());
        length = Finish(w);
        expectedLength = 0;
        break;
    }
    case 0x83:
        length = EmptyFrame(w, a, 0x83);
        expectedLength = kExpectAnswer;
        if (state.controlWatch == 1) {
            state.controlWatchStep += 1;
            if (state.controlWatchStep > kLastWatchStep) state.controlWatchStep = 0;
        }
        break;
    case 0x85:
        length = ZoneFrame(w, a, 0x85, r.settingZone);
        expectedLength = kExpectAnswer;
        break;
    case 0x8A:
        length = EmptyFrame(w, a, 0x8A);
        expectedLength = kExpectAnswer;
        break;
    case 0x8C:
        length = BuildSettingWrite(state, frame, capacity);
        expectedLength = kExpectSettingAnswer;
        if (length > 0) {
            r.writeConfirmCountdown = 1;
            r.nextCommand = 0;  // nothing more until an answer or a write sets a request
        } else {
            // A refused write sends nothing, so nothing is confirmed, and no
            // answer will come to end the wait: the relay is polled again.
            r.nextCommand = 0x83;
        }
        break;
    case 0x8F:
        length = ZoneFrame(w, a, 0x8F, r.settingZone);
        break;
    case 0x90:
        r.settingState = 4;  // the zone's settings are read next
        length = ZoneFrame(w, a, 0x90, r.settingZone);
        break;
    case 0x98:
        length = ControlFrame(w, a, 0x98, r);
        expectedLength = kExpectAnswer;
        break;
    case 0x99:
        length = EmptyFrame(w, a, 0x99);
        break;
    case 0x9A:
        length = ControlFrame(w, a, 0x9A, r);
        expectedLength = kExpectAnswer;
        state.controlWatch = 1;
        state.controlWatchDevice = state.currentDevice;
        break;
    case 0x9B: {
        const uint8_t bytes[] = {a, 0x9B, 0x07};
        w.PutBytes(bytes, sizeof bytes);
        w.PutLe(static_cast<uint32_t>(r.lbRequestId), 4);
        w.PutLe(r.lbNextSample, 2);
        w.Put(0x05);
        length = Finish(w);
        break;
    }
    default:
        break;  // no request for this code
    }

    r.unansweredCount = (r.unansweredCount % kUnansweredWrap) + 1;
    return 1;
}

int32_t BuildProbe(uint8_t address, uint8_t* frame, size_t capacity) {
    ByteWriter w(frame, frame != nullptr ? capacity : 0);
    return EmptyFrame(w, address, 0x83);
}

}  // namespace vorlan
