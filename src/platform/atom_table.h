#pragma once
// A process-wide table of reference-counted texts named by 16-bit atoms
// (from 0xC000), through which recording-time texts reach the host.

#include <cstddef>
#include <cstdint>

namespace vorlan {

// Adds a reference to `text` (non-empty); returns its atom, or 0 for an empty
// text or a full table.
uint16_t AtomAdd(const char* text, size_t size);
// Drops one reference; the text goes when its last reference does.
void AtomDelete(uint16_t atom);
// Copies the text and a NUL, cut to fit. Returns the text's length, 0 when unknown.
uint32_t AtomGetName(uint16_t atom, char* buffer, uint32_t size);

}  // namespace vorlan
