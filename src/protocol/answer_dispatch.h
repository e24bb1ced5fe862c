#pragma once
// Checks an answer, finds the answering relay by address and acts on its code.

#include <cstdint>

#include "model/device_record.h"
#include "protocol/answer_handlers.h"
#include "model/byte_view.h"

namespace vorlan {

enum class AnswerVerdict : uint8_t {
    NothingDue,     // nothing was asked, so no answer was due
    Taken,          // the answer of the relay asked, acted on
    Refused,        // bad check, another relay, or not what the relay was asked
    PurposeFailed,  // taken, but the request failed (a select not confirmed)
};

// Checks the answer to the request the current relay was sent, acts on it
// when it is that request's answer, and notes the relay's freshness.
// `answerTime` (UTC FILETIME) stamps the values it carries.
AnswerVerdict TakeAnswer(PollingState& state, AnswerHandlers& handlers, ByteView answer,
                         uint64_t answerTime);

// TakeAnswer as the packet cycle reports it: 1 when nothing was due or the
// answer was taken and did its job, else 0.
int32_t ParseAnswer(PollingState& state, AnswerHandlers& handlers, ByteView answer,
                    uint64_t answerTime);

// The probe's check: 1 when the answer of `address` was taken, else 0.
int32_t ParseProbeAnswer(PollingState& state, AnswerHandlers& handlers, uint8_t address,
                         ByteView answer, uint64_t answerTime);

}  // namespace vorlan
