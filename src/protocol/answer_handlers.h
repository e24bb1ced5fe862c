// SPDX-License-Identifier: Apache-2.0
#pragma once
// The answers the dispatcher hands to the settings and fault-recording
// services. Each works on the record of the answering (current) relay and is
// given the whole answer frame, already checked.

#include "model/device_record.h"
#include "model/byte_view.h"

namespace vorlan {

class AnswerHandlers {
public:
    virtual ~AnswerHandlers() = default;
    virtual void StoreCodedSettings(DeviceRecord& relay, ByteView frame) = 0;   // 0xBD
    virtual void StoreSettingValues(DeviceRecord& relay, ByteView frame) = 0;   // 0xAD
    virtual void StoreRecordingList(DeviceRecord& relay, ByteView frame) = 0;   // 0xC9
    virtual void StoreRecordingBlock(DeviceRecord& relay, ByteView frame) = 0;  // 0xCB
};

}  // namespace vorlan
