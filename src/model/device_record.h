// SPDX-License-Identifier: Apache-2.0
#pragma once
// Everything the driver knows about one relay, and the polling fields the
// driver shares across relays. Plain data in parts, one per subsystem that
// writes it; none of it calls back up.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "model/change_queue.h"
#include "model/commands.h"
#include "platform/relay_zone.h"
#include "vorlan/driver.h"

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

// What the relay is asked next. Written by the protocol's request builder and
// answer dispatch; the other subsystems ask for a request through
// protocol/conversation.h.
struct Conversation {
    Request nextCommand = Request::GeneralPoll;
    int32_t pollCount = 0;              // requests since the last time synchronisation
    int32_t unansweredCount = 0;
    int32_t writeConfirmCountdown = 0;  // 0x8F on the second request after a 0x8C
    // The request on the line whose answer is due; None between exchanges.
    // Kept by protocol/answer_pairing.h: an answer that moves a conversation
    // counts only for the request it answers.
    Request awaiting = Request::None;
    int32_t failedExchanges = 0;        // in a row, since the last answer taken
    uint64_t lastAnswerTime = 0;        // UTC FILETIME of the last answer taken; 0: never
    // Silent-relay back-off (model/silent_backoff.h): out of the ordinary
    // rotation until the tick reaches retryDueTick.
    bool backedOff = false;
    uint32_t retryIntervalMs = 0;
    uint32_t retryDueTick = 0;
    // The longest any answer of this relay took to begin (fast profile); -1: none yet.
    int32_t slowestAnswerDelayMs = -1;
    uint32_t briefRetries = 0;  // retries in a row with the brief wait
};

// The values the relay reported, stored by the answer dispatch, each with
// the time (UTC FILETIME) of the answer that last carried it; 0: never
// reported since the channel opened. Status points arrive in groups of 8.
struct PointValues {
    std::array<float, kYcCount> ycValue{};
    std::array<uint8_t, kYxCount> yxState{};
    std::array<uint32_t, kYmCount> ymValue{};
    std::array<uint64_t, kYcCount> ycReported{};
    std::array<uint64_t, kYxGroups> yxReported{};
    std::array<uint64_t, kYmCount> ymReported{};
    ChangeQueue changeQueue;
};

// The relay's setting table for one zone, kept by the settings service;
// settingZone and settingState follow the host's setting operations.
struct SettingTable {
    std::array<float, kSettingSlots> settingValue{};
    std::array<uint8_t, kSettingSlots> settingCode{};
    std::array<uint8_t, kSettingSlots> settingLength{};
    std::array<uint8_t, kSettingSlots> settingDescriptor{};
    std::array<uint8_t, kSettingSlots> settingFlag{};
    std::array<uint8_t, kSettingSlots> settingDecimals{};
    int32_t settingCount = 0;
    int32_t settingByteCount = 0;
    uint8_t settingAnswerCode = 255;             // 0xBD or 0xAD: the layout last received
    uint8_t settingState = VORLAN_SETTING_IDLE;  // host-visible, register DZWR
    uint8_t settingZone = VORLAN_ZONE_NONE;
    int32_t rtuType = 0;                         // the relay type its settings carry
};

// Where a remote control stands. Each step allows exactly one next frame:
// a select only while one is wanted, an execute only after that select's
// confirmation, a result only while the executed control awaits it.
enum class ControlStep : uint8_t {
    None,
    SelectWanted,   // the host selected; 0x98 goes out at the relay's next turn
    SelectSent,     // 0x98 on the line; only its 0xC8 moves on
    ExecuteWanted,  // the select was confirmed; 0x9A goes out once
    ExecuteSent,    // 0x9A went out; its 0xCA is awaited while the watch runs
};

// A remote control in progress, from the host's YK writes. Changed only
// through protocol/control_conversation.h.
struct ControlSelection {
    int32_t ykPoint = 0;
    int32_t ykCommand = 0;
    int32_t ykState = 255;                      // 1 while a selection waits to go out
    int32_t ykAction = VORLAN_YK_ACTION_NONE;   // host-visible progress
    ControlStep step = ControlStep::None;
};

// The samples of the recording being fetched, by sample number.
struct RecordingSamples {
    std::array<uint32_t, kRecordingSamples> lbSampleTime{};
    std::array<std::array<int16_t, kRecordingSamples>, kAnalogChannels> lbAnalog{};
    std::array<std::array<uint16_t, kRecordingSamples>, kDigitalWords> lbDigital{};
};

// The relay's fault-recording list and the retrieval of one recording.
// The sample buffers (about 9.6 KiB) exist only while a retrieval runs: the
// host's LBStart write allocates them, writing the files releases them.
struct RecordingRetrieval {
    std::array<int32_t, kRecordingListSize> lbId{};
    std::array<std::string, kRecordingListSize> lbTime{};
    uint8_t lbCount = 0;
    int32_t lbRequestId = 0;
    int32_t lbIndex = -1;
    std::array<uint16_t, kRecordingListSize> lbSampleCount{};  // by list position
    uint16_t lbNextSample = 0;
    std::array<uint32_t, kRecordingListSize> lbSampleRate{};   // by list position
    std::unique_ptr<RecordingSamples> samples;                  // null outside a retrieval
    std::array<std::string, kRecordingListSize> lbStartTimeText{};
    std::array<std::string, kRecordingListSize> lbTriggerTimeText{};
    std::array<uint32_t, kRecordingListSize> lbSecond{};
    std::array<uint32_t, kRecordingListSize> lbFraction{};
    int32_t lbFilesWritten = 0;
    uint64_t lbListReported = 0;  // UTC FILETIME of the last list answer; 0: never
};

// What the host's register service keeps per relay.
struct HostView {
    uint32_t traceOn = VORLAN_SHOW_OFF;  // register Show: mirror this relay's traffic
    int32_t bwyxPhase = 1;               // BWYX reads alternate: clear, then deliver
    // The atom handed to the host for each LBTime address, kept alive until
    // the next LBTime read of that address replaces it (0 = none).
    std::array<uint16_t, kRecordingListSize> lbTimeAtom{};
};

// Everything the driver knows about one relay, each part written by the
// subsystem named on it.
struct DeviceRecord {
    uint8_t index = 0;             // position in the table, set by AddDevice
    uint8_t address = kNoAddress;  // bus address, set by AddDevice
    Conversation conversation;
    PointValues points;
    SettingTable settings;
    ControlSelection control;
    RecordingRetrieval recording;
    HostView host;
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
    bool lineLost = false;  // the port failed; cleared by the next answer taken
    // The zone the relays' clocks keep, and whether the driver sets their
    // clocks (off where a station clock does): from the line settings at
    // OpenChannel.
    RelayZone relayZone;
    bool timeSync = true;
    // Whether silent relays are backed off, and the longest retry interval.
    bool silentBackoff = false;
    uint32_t silentRetryMaxMs = 10'000;
    // The longest any relay of the line took to begin an answer (fast profile); -1: none yet.
    int32_t slowestAnswerDelayMs = -1;
    // After a retry served out of turn: the relay whose turn it took; kNone otherwise.
    int32_t resumeTurn = kNone;

    // The record `currentDevice` names (always inside the table).
    DeviceRecord& Current() {
        return devices[static_cast<size_t>(ClampIndex(currentDevice))];
    }

    // The registered relay with `address`, made the current one; null if none.
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
