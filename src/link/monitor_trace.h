// SPDX-License-Identifier: Apache-2.0
#pragma once
// Mirrors a frame as hexadecimal text to the host's monitor, in lines of 80
// characters.

#include <cstddef>
#include <cstdint>

#include "platform/monitor_sink.h"

namespace vorlan {

// "%02X " per byte into `out` (capacity >= 3 * size + 1); returns the length.
size_t FormatTrace(const uint8_t* frame, size_t size, char* out, size_t capacity);

// Direction 'T'/'t' gives the prefix "T=>", 'R'/'r' "R=>", others none.
void MonitorTrace(MonitorSink& sink, char direction, const char* text, size_t size);

}  // namespace vorlan
