// Answer 0xC9: the relay's list of fault recordings.

#include "model/recording_limits.h"
#include "faultrec/recording_service.h"
#include "model/freshness.h"
#include "faultrec/recording_times.h"

namespace vorlan {

namespace {
constexpr size_t kPayloadOffset = 3;
constexpr size_t kListEntrySize = 20;  // number 4, second 4, fraction 4, rate 4, count 2, unused 2
}  // namespace

int32_t FindRecording(const DeviceRecord& relay, int32_t number) {
    for (int32_t i = 0; i < kRecordingListSize; ++i) {
        if (relay.recording.lbId[static_cast<size_t>(i)] == number) return i;
    }
    return -1;
}

void StoreRecordingList(DeviceRecord& relay, ByteView frame, Clock& clock) {
    const size_t payload = frame.at(2);
    if (frame.size() < kPayloadOffset || frame.at(0) != relay.address) return;
    relay.recording.lbListReported = ReportedAt(clock.NowFileTime());
    if (payload == 0) return;

    size_t entries = payload / kListEntrySize;
    if (entries > kRecordingListSize) entries = kRecordingListSize;
    // Only entries that lie wholly inside the frame are taken.
    while (entries > 0 && !frame.Has(kPayloadOffset + entries * kListEntrySize - kListEntrySize,
                                     kListEntrySize)) {
        --entries;
    }
    relay.recording.lbCount = static_cast<uint8_t>(entries);

    for (size_t i = 0; i < entries; ++i) {
        const size_t at = kPayloadOffset + i * kListEntrySize;
        uint32_t number = 0, second = 0, fraction = 0, rate = 0, count = 0;
        frame.ReadLe(at, 4, number);
        frame.ReadLe(at + 4, 4, second);
        frame.ReadLe(at + 8, 4, fraction);
        frame.ReadLe(at + 12, 4, rate);
        frame.ReadLe(at + 16, 2, count);
        relay.recording.lbId[i] = static_cast<int32_t>(number);
        relay.recording.lbSecond[i] = second;
        relay.recording.lbFraction[i] = fraction;
        relay.recording.lbSampleRate[i] = rate;
        relay.recording.lbSampleCount[i] = static_cast<uint16_t>(count);
        MakeRecordingTimes(relay, static_cast<int32_t>(i), second, fraction, clock);
    }
}

}  // namespace vorlan
