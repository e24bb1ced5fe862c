#include "settings/setting_frames.h"

#include <algorithm>

#include "model/frame.h"
#include "protocol/codecs.h"
#include "protocol/setting_conversation.h"

namespace vorlan {

namespace {

constexpr size_t kTypeOffset = 4;
constexpr size_t kEntriesOffset = 6;     // coded list
constexpr size_t kFloatCountOffset = 6;  // float layout: F, then B, then the values
constexpr size_t kByteCountOffset = 7;
constexpr size_t kFloatValuesOffset = 8;
constexpr size_t kMinPayload = 7;        // N of 6 or less carries nothing

constexpr uint8_t kKindMask = 0x07;      // descriptor bits 0-2
constexpr uint8_t kFlagBit = 0x80;       // descriptor bit 7, clear = enabled
constexpr uint8_t kKindPackedDecimal = 0;
constexpr uint8_t kKindFloat = 2;
constexpr size_t kFloatBytes = 4;

uint8_t ValueLength(uint8_t descriptor) { return (descriptor >> 3) & 0x0F; }  // bits 3-6

// One past the last payload byte: N + 3, but never past what arrived.
size_t PayloadEnd(ByteView frame) {
    const size_t declared = kFrameHeader + frame.at(2);
    return std::min(declared, frame.size());
}

}  // namespace

int32_t DecodeCodedSettings(DeviceRecord& relay, ByteView frame) {
    relay.settings.settingAnswerCode = Code(Answer::SettingsCoded);
    relay.settings.rtuType = frame.at(kTypeOffset);
    if (relay.settings.rtuType == kCodedTypeReported) relay.settings.rtuType = kCodedTypeStored;
    relay.settings.settingCode.fill(0);
    if (frame.at(2) < kMinPayload) return -1;

    const size_t end = PayloadEnd(frame);
    const uint8_t* bytes = frame.data();
    size_t pos = kEntriesOffset;
    int32_t n = 0;
    while (pos < end && n < kSettingSlots) {
        if (end - pos < 2) break;  // no room for code and descriptor
        const uint8_t code = bytes[pos];
        const uint8_t descriptor = bytes[pos + 1];
        const uint8_t length = ValueLength(descriptor);
        if (length > end - pos - 2) break;  // the value would run past the payload
        const uint8_t* value = bytes + pos + 2;
        const uint8_t kind = descriptor & kKindMask;

        const bool packed = kind == kKindPackedDecimal;
        // A float entry carries its value in its first four bytes.
        const bool single = kind == kKindFloat && length >= kFloatBytes;
        if (packed || single) {
            const auto slot = static_cast<size_t>(n);
            uint8_t decimals = 0;
            relay.settings.settingValue[slot] =
                packed ? DecodeSettingBcd(value, length, decimals) : GetFloat(value);
            relay.settings.settingDecimals[slot] = decimals;
            relay.settings.settingCode[slot] = code;
            relay.settings.settingFlag[slot] = (descriptor & kFlagBit) ? 0 : 1;
            relay.settings.settingLength[slot] = length;
            relay.settings.settingDescriptor[slot] = descriptor;
            ++n;
        }
        pos += 2 + static_cast<size_t>(length);
    }
    return n;
}

bool DecodeSettingValues(DeviceRecord& relay, ByteView frame, SettingValueCounts& counts) {
    relay.settings.settingAnswerCode = Code(Answer::SettingsFloat);
    relay.settings.rtuType = frame.at(kTypeOffset);
    counts = {};
    if (frame.at(2) < kMinPayload) return false;

    const size_t end = PayloadEnd(frame);
    const uint8_t* bytes = frame.data();
    const size_t declaredFloats = frame.at(kFloatCountOffset);
    const size_t declaredBytes = kByteCountOffset < end ? frame.at(kByteCountOffset) : 0;

    const size_t floatRoom = end > kFloatValuesOffset ? (end - kFloatValuesOffset) / kFloatBytes : 0;
    const size_t floats = std::min({declaredFloats, floatRoom, static_cast<size_t>(kSettingSlots)});
    for (size_t i = 0; i < floats; ++i) {
        relay.settings.settingValue[i] = GetFloat(bytes + kFloatValuesOffset + kFloatBytes * i);
    }
    // The 1-byte values follow all F declared 4-byte values.
    const size_t byteStart = kFloatValuesOffset + kFloatBytes * declaredFloats;
    const size_t byteRoom = end > byteStart ? end - byteStart : 0;
    const size_t singles = std::min({declaredBytes, byteRoom, static_cast<size_t>(kSettingSlots)});
    for (size_t i = 0; i < singles; ++i) relay.settings.settingFlag[i] = bytes[byteStart + i];

    counts.floats = static_cast<int32_t>(floats);
    counts.bytes = static_cast<int32_t>(singles);
    return true;
}

void MarkSettingsReceived(DeviceRecord& relay) { SettingsReceived(relay); }

}  // namespace vorlan
