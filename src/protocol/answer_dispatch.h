#pragma once
// Checks an answer, finds the answering relay by address and acts on its code.

#include <cstdint>

#include "model/device_record.h"
#include "protocol/answer_handlers.h"
#include "model/byte_view.h"

namespace vorlan {

// 1 when the answer was empty or dispatched, 0 when it was refused.
int32_t ParseAnswer(PollingState& state, AnswerHandlers& handlers, ByteView answer);

// The probe's check: 1 when the answer of `address` was dispatched, else 0.
int32_t ParseProbeAnswer(PollingState& state, AnswerHandlers& handlers, uint8_t address,
                         ByteView answer);

}  // namespace vorlan
