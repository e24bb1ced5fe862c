// SPDX-License-Identifier: Apache-2.0
#pragma once
// Fault recordings: the list answer, the block answers and the files written
// when a recording is complete.

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "model/device_record.h"
#include "model/byte_view.h"

namespace vorlan {

// The directory recordings are written to, fixed when the library loads:
// $VORLAN_RECORDING_DIR (with a trailing '/'), else the default below.
const std::string& RecordingDir();

// List position 0..3 of recording `number` in `relay`'s list, -1 if none.
int32_t FindRecording(const DeviceRecord& relay, int32_t number);

// Answer 0xC9.
void StoreRecordingList(DeviceRecord& relay, ByteView frame, Clock& clock);
// Empty sample buffers for a retrieval that starts: allocated, or cleared
// when an earlier retrieval left them. False when they can't be allocated.
bool PrepareRecordingSamples(DeviceRecord& relay);
// Answer 0xCB; writes the files when the recording is complete and releases
// the sample buffers. Without buffers (no retrieval started) it changes nothing.
void StoreRecordingBlock(DeviceRecord& relay, ByteView frame, const std::string& directory);

}  // namespace vorlan
