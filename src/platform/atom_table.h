// SPDX-License-Identifier: Apache-2.0
#pragma once
// A process-wide table of reference-counted texts named by 16-bit atoms
// (from 0xC000), through which recording-time texts reach the host.

#include <cstddef>
#include <cstdint>

namespace vorlan {

// Adds a reference to `text` (1..255 bytes); identical texts share one atom.
// A new text takes a never-used slot, else the one released longest ago.
// Returns 0 for an empty or too long text, or when every slot holds a live
// text (more than AtomCapacity() distinct texts at once).
uint16_t AtomAdd(const char* text, size_t size);
// Distinct live texts the table holds at once.
size_t AtomCapacity();
// Drops one reference; the text goes when its last reference does.
void AtomDelete(uint16_t atom);
// Copies the text and a NUL, cut to fit. Returns the text's length, 0 when unknown.
uint32_t AtomGetName(uint16_t atom, char* buffer, uint32_t size);

}  // namespace vorlan
