#include "platform/atom_table.h"

// Placeholder until the atom table lands.
namespace vorlan {
uint16_t AtomAdd(const char*, size_t) { return 0; }
void AtomDelete(uint16_t) {}
uint32_t AtomGetName(uint16_t, char*, uint32_t) { return 0; }
}  // namespace vorlan
