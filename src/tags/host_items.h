// SPDX-License-Identifier: Apache-2.0
#pragma once
// Walking a host packet's item list and writing item fields.

#include <cstdint>
#include <cstring>

#include "vorlan/driver.h"

namespace vorlan {

constexpr int16_t kQualityGood = 192;
constexpr int16_t kQualityBad = 0;

// Visits at most `count` items in list order; stops at a missing node.
template <typename Fn>
void ForEachItem(HostPacket* packet, Fn&& fn) {
    const HostItemNode* node = packet->items.first;
    for (int32_t i = 0; i < packet->items.count && node != nullptr; ++i, node = node->next) {
        if (node->item != nullptr) fn(*node->item);
    }
}

// The first item, or null for an empty list.
inline HostItem* FirstItem(HostPacket* packet) {
    if (packet->items.count <= 0 || packet->items.first == nullptr) return nullptr;
    return packet->items.first->item;
}

inline void SetLong(HostItem& item, int32_t v) { std::memcpy(item.value, &v, sizeof v); }
inline void SetFloat(HostItem& item, float v) { std::memcpy(item.value, &v, sizeof v); }
inline void SetByte(HostItem& item, uint8_t v) { item.value[0] = v; }
inline void SetAtom(HostItem& item, uint16_t v) { std::memcpy(item.value, &v, sizeof v); }
inline int32_t GetLong(const HostItem& item) {
    int32_t v;
    std::memcpy(&v, item.value, sizeof v);
    return v;
}
inline void Stamp(HostItem& item, uint64_t fileTime) {
    item.timestamp.lowDateTime = static_cast<uint32_t>(fileTime);
    item.timestamp.highDateTime = static_cast<uint32_t>(fileTime >> 32);
}

}  // namespace vorlan
