// SPDX-License-Identifier: Apache-2.0
#pragma once
// The fast timing profile's exchange: instead of the fixed pauses it waits on
// the port, reads as the answer arrives and returns once the answer is whole
// and the line has stayed quiet for the guard time. The request checks, the
// framing, the traces, the outcomes and the error indexes are those of
// ExchangeFrame.

#include <cstddef>
#include <cstdint>

#include "link/frame_exchange.h"

namespace vorlan {

struct FastTiming {
    // From the end of the request on the wire to the answer's first byte.
    uint32_t answerTimeoutMs = 450;
    // The same for a setting read; also the longest gap inside a 248-byte answer.
    uint32_t slowAnswerTimeoutMs = 2450;
    uint32_t interCharTimeoutMs = 40;  // longest silence inside an answer
    uint32_t guardMs = 4;              // quiet line after an answer or the broadcast reset
    uint32_t charTimeUs = 1042;        // one character on the wire (10 bits at 9600 baud)
};

// Wire time of `bytes` characters, in whole milliseconds rounded up.
uint32_t WireMs(const FastTiming& timing, size_t bytes);

// As ExchangeFrame, with the fast profile's waiting.
int32_t ExchangeFrameFast(ExchangeContext& ctx, const FastTiming& timing, FrameBuffer& buffer);

}  // namespace vorlan
