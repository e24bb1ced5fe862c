// SPDX-License-Identifier: Apache-2.0
#pragma once
// How far a retrieval goes. A recording holds the samples 0..239, so a list
// entry that announces more is fetched and written as 240 samples: the last
// sample asked for is min(announced, 239) and the files hold min(announced,
// 240) samples. For announced counts up to 239 this is the relay's own count.

#include <cstdint>

#include "model/device_record.h"

namespace vorlan {

constexpr int32_t kLastStorableSample = kRecordingSamples - 1;  // 239

// Whether `position` names a list entry (0..3).
inline bool IsListPosition(int32_t position) {
    return position >= 0 && position < kRecordingListSize;
}

// Highest sample number the retrieval of list entry `position` waits for.
inline int32_t LastWantedSample(const DeviceRecord& relay, int32_t position) {
    const int32_t announced = relay.recording.lbSampleCount[static_cast<size_t>(position)];
    return announced < kLastStorableSample ? announced : kLastStorableSample;
}

// Whether `relay` has a listed recording asked for (lbRequestId neither 0 nor
// -1, lbIndex a list position) that still has samples to ask for: the request
// builder's continuation test and the block answer's completeness test.
inline bool RecordingHasMoreSamples(const DeviceRecord& relay) {
    const bool selected =
        relay.recording.lbRequestId != 0 && relay.recording.lbRequestId != -1 && IsListPosition(relay.recording.lbIndex);
    return selected && relay.recording.lbNextSample <= LastWantedSample(relay, relay.recording.lbIndex);
}

// Samples the recording files of list entry `position` hold (also line 23).
inline int32_t StoredSampleCount(const DeviceRecord& relay, int32_t position) {
    const int32_t announced = relay.recording.lbSampleCount[static_cast<size_t>(position)];
    return announced < kRecordingSamples ? announced : kRecordingSamples;
}

}  // namespace vorlan
