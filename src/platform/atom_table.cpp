// SPDX-License-Identifier: Apache-2.0
#include "platform/atom_table.h"

#include <cstring>
#include <mutex>

namespace vorlan {
namespace {

constexpr uint16_t kFirstAtom = 0xC000;
// Each slot holds one distinct text: every LBTime item of 64 components of
// 32 relays (64 x 32 x 4) has room, inside 0xC000..0xFFFF.
constexpr size_t kAtomSlots = 64 * 32 * 4;
constexpr size_t kMaxAtomText = 255;  // like the platform's atoms

struct AtomSlot {
    uint32_t references;   // 0 = free
    uint8_t size;
    uint64_t releasedAt;   // release order of a free slot; 0 = never used
    char text[kMaxAtomText];
};

// Zero-initialised storage and a constant-initialised mutex: usable from any
// thread at any time, with no allocation and no start-up order to worry about.
AtomSlot g_slots[kAtomSlots];
std::mutex g_mutex;
size_t g_used = 0;         // slots at or above this index were never used
uint64_t g_releases = 0;   // counts releases, to find the oldest free slot

bool SameText(const AtomSlot& slot, const char* text, size_t size) {
    return slot.references != 0 && slot.size == size && std::memcmp(slot.text, text, size) == 0;
}

// Slot index of `atom`, or kAtomSlots when it names no slot.
size_t SlotOf(uint16_t atom) {
    if (atom < kFirstAtom) return kAtomSlots;
    return static_cast<size_t>(atom - kFirstAtom);
}

// A never-used slot first, else the one released longest ago, so a host
// holding a stale atom is unlikely to read another text through it.
// kAtomSlots when every slot is held.
size_t FreeSlot() {
    if (g_used < kAtomSlots) return g_used++;
    size_t oldest = kAtomSlots;
    for (size_t i = 0; i < kAtomSlots; ++i) {
        if (g_slots[i].references != 0) continue;
        if (oldest == kAtomSlots || g_slots[i].releasedAt < g_slots[oldest].releasedAt) oldest = i;
    }
    return oldest;
}

}  // namespace

uint16_t AtomAdd(const char* text, size_t size) {
    if (text == nullptr || size == 0 || size > kMaxAtomText) return 0;
    std::lock_guard<std::mutex> guard(g_mutex);
    for (size_t i = 0; i < g_used; ++i) {
        if (SameText(g_slots[i], text, size)) {
            g_slots[i].references += 1;
            return static_cast<uint16_t>(kFirstAtom + i);
        }
    }
    const size_t i = FreeSlot();
    if (i >= kAtomSlots) return 0;  // every slot is held by a live text
    AtomSlot& slot = g_slots[i];
    slot.references = 1;
    slot.size = static_cast<uint8_t>(size);
    std::memcpy(slot.text, text, size);
    return static_cast<uint16_t>(kFirstAtom + i);
}

void AtomDelete(uint16_t atom) {
    const size_t i = SlotOf(atom);
    if (i >= kAtomSlots) return;
    std::lock_guard<std::mutex> guard(g_mutex);
    AtomSlot& slot = g_slots[i];
    if (slot.references == 0) return;
    slot.references -= 1;
    if (slot.references == 0) slot.releasedAt = ++g_releases;
}

uint32_t AtomGetName(uint16_t atom, char* buffer, uint32_t size) {
    const size_t i = SlotOf(atom);
    if (i >= kAtomSlots) return 0;
    std::lock_guard<std::mutex> guard(g_mutex);
    const AtomSlot& slot = g_slots[i];
    if (slot.references == 0) return 0;
    if (buffer != nullptr && size > 0) {
        const size_t copied = slot.size < size ? slot.size : size - 1;
        std::memcpy(buffer, slot.text, copied);
        buffer[copied] = '\0';
    }
    return slot.size;
}

size_t AtomCapacity() { return kAtomSlots; }

}  // namespace vorlan
