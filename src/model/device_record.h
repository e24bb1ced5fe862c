#pragma once
// Everything the driver knows about one relay, and the polling fields the
// driver shares across relays. Plain data: the subsystems read and write the
// fields directly; none of it calls back up.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/change_queue.h"

namespace vorlan {

constexpr int kMaxDevices = 32;
constexpr int kYcCount = 64;
constexpr int kYxCount = 512;  // 64 groups of 8 points
constexpr int kYxGroups = kYxCount / 8;
constexpr int kYmCount = 20;
constexpr int kSettingSlots = 255;
constexpr int kRecordingListSize = 4;
constexpr int kRecordingSamples = 240;
constexpr int kAnalogChannels = 16;
constexpr int kDigitalWords = 2;

constexpr uint8_t kNoAddress = 255;
constexpr int32_t kNone = 255;  // "none" in device indexes and small states

struct DeviceRecord {
    uint32_t traceOn = 0;
    uint8_t index = 0;
    uint8_t nextCommand = 0x83;
    int32_t pollCount = 0;
    int32_t rtuType = 0;
    uint8_t address = kNoAddress;

    std::array<float, kYcCount> ycValue{};
    std::array<uint8_t, kYxCount> yxState{};
    std::array<uint32_t, kYmCount> ymValue{};

    std::array<float, kSettingSlots> settingValue{};
    std::array<uint8_t, kSettingSlots> settingCode{};
    std::array<uint8_t, kSettingSlots> settingLength{};
    std::array<uint8_t, kSettingSlots> settingDescriptor{};
    std::array<uint8_t, kSettingSlots> settingFlag{};
    std::array<uint8_t, kSettingSlots> settingDecimals{};
    int32_t writeConfirmCountdown = 0;
    int32_t settingCount = 0;
    int32_t settingByteCount = 0;
    uint8_t settingAnswerCode = 255;
    uint8_t settingState = 255;
    uint8_t settingZone = 100;

    int32_t ykPoint = 0;
    int32_t ykCommand = 0;
    int32_t ykState = 255;
    int32_t ykAction = 255;

    ChangeQueue changeQueue;
    int32_t bwyxPhase = 1;
    int32_t unansweredCount = 0;

    std::array<int32_t, kRecordingListSize> lbId{};
    std::array<std::string, kRecordingListSize> lbTime{};
    std::array<uint32_t, kRecordingSamples> lbSampleTime{};
    uint8_t lbCount = 0;
    int32_t lbRequestId = 0;
    int32_t lbIndex = -1;
    std::array<uint16_t, kRecordingSamples> lbSampleCount{};
    uint16_t lbNextSample = 0;
    std::array<uint32_t, kRecordingSamples> lbSampleRate{};
    std::array<std::array<int16_t, kRecordingSamples>, kAnalogChannels> lbAnalog{};
    std::array<std::array<uint16_t, kRecordingSamples>, kDigitalWords> lbDigital{};
    std::array<std::string, kRecordingListSize> lbStartTimeText{};
    std::array<std::string, kRecordingListSize> lbTriggerTimeText{};
    std::array<uint32_t, kRecordingListSize> lbSecond{};
    std::array<uint32_t, kRecordingListSize> lbFraction{};
    int32_t lbFilesWritten = 0;

    // The atom handed to the host for each LBTime address, kept alive until
    // the next LBTime read of that address replaces it (0 = none).
    std::array<uint16_t, kRecordingListSize> lbTimeAtom{};
};

// The device table and the driver-wide polling fields.
struct PollingState {
    std::array<DeviceRecord, kMaxDevices> devices{};
    int32_t priorityDevice = kNone;
    int32_t deviceCount = 0;
    int32_t currentDevice = 0;
    int32_t stayCount = 0;
    uint8_t controlWatch = 0;
    int32_t controlWatchDevice = kNone;
    int32_t controlWatchStep = 0;

    // The record `currentDevice` names (always inside the table).
    DeviceRecord& Current() {
        return devices[static_cast<size_t>(ClampIndex(currentDevice))];
    }

    // First registered relay with `address`, made the current one; null if none.
    DeviceRecord* FindDevice(uint8_t address) {
        const int32_t count = deviceCount < kMaxDevices ? deviceCount : kMaxDevices;
        for (int32_t i = 0; i < count; ++i) {
            if (devices[static_cast<size_t>(i)].address == address) {
                currentDevice = i;
                return &devices[static_cast<size_t>(i)];
            }
        }
        return nullptr;
    }

    static int32_t ClampIndex(int32_t i) { return (i >= 0 && i < kMaxDevices) ? i : 0; }
};

}  // namespace vorlan
