#include "platform/atom_table.h"

#include <cstring>
#include <mutex>

namespace vorlan {
namespace {

constexpr uint16_t kFirstAtom = 0xC000;
// Each slot holds one distinct text: enough for every LBTime item of 32
// channels of 32 relays (32 x 32 x 4), well inside 0xC000..0xFFFF.
constexpr size_t kAtomSlots = 4096;
constexpr size_t kMaxAtomText = 255;                 // like the platform's atoms

struct AtomSlot {
    uint32_t references;  // 0 = free
    uint8_t size;
    char text[kMaxAtomText];
};

// Zero-initialised storage and a constant-initialised mutex: usable from any
// thread at any time, with no allocation and no start-up order to worry about.
AtomSlot g_slots[kAtomSlots];
std::mutex g_mutex;
size_t g_used = 0;     // slots below this index may be in use
size_t g_cursor = 0;   // where the search for a free slot starts

bool SameText(const AtomSlot& slot, const char* text, size_t size) {
    return slot.references != 0 && slot.size == size && std::memcmp(slot.text, text, size) == 0;
}

// Slot index of `atom`, or kAtomSlots when it names no slot.
size_t SlotOf(uint16_t atom) {
    if (atom < kFirstAtom) return kAtomSlots;
    return static_cast<size_t>(atom - kFirstAtom);
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
    // A freed atom is reused only after the others, so a host holding a stale
    // atom is unlikely to read another text through it.
    for (size_t n = 0; n < kAtomSlots; ++n) {
        const size_t i = (g_cursor + n) % kAtomSlots;
        AtomSlot& slot = g_slots[i];
        if (slot.references != 0) continue;
        slot.references = 1;
        slot.size = static_cast<uint8_t>(size);
        std::memcpy(slot.text, text, size);
        g_cursor = (i + 1) % kAtomSlots;
        if (i >= g_used) g_used = i + 1;
        return static_cast<uint16_t>(kFirstAtom + i);
    }
    return 0;  // table full
}

void AtomDelete(uint16_t atom) {
    const size_t i = SlotOf(atom);
    if (i >= kAtomSlots) return;
    std::lock_guard<std::mutex> guard(g_mutex);
    if (g_slots[i].references != 0) g_slots[i].references -= 1;
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

}  // namespace vorlan
