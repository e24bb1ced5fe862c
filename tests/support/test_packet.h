// SPDX-License-Identifier: Apache-2.0
#pragma once
// A host packet with its linked item list, built the way the host lays it out.

#include <cstdint>
#include <cstring>
#include <deque>
#include <initializer_list>

#include "vorlan/driver.h"

namespace vorlan_test {

class TestPacket {
public:
    TestPacket(int16_t deviceIndex, int16_t registerIndex, int16_t direction,
               std::initializer_list<uint16_t> addresses = {}) {
        std::memset(&packet, 0, sizeof packet);
        packet.deviceIndex = deviceIndex;
        packet.registerIndex = registerIndex;
        packet.direction = direction;
        for (uint16_t a : addresses) Add(a);
    }
    TestPacket(const TestPacket&) = delete;
    TestPacket& operator=(const TestPacket&) = delete;

    // Appends an item whose value and timestamp bytes are 0xEE, so that any
    // byte the driver writes shows.
    HostItem& Add(uint16_t address) {
        items_.emplace_back();
        HostItem& item = items_.back();
        std::memset(&item, 0xEE, sizeof item);
        item.address = address;
        item.quality = 0;
        nodes_.emplace_back();
        HostItemNode& node = nodes_.back();
        node.next = nullptr;
        node.prev = packet.items.last;
        node.item = &item;
        if (packet.items.last != nullptr) packet.items.last->next = &node;
        if (packet.items.first == nullptr) packet.items.first = &node;
        packet.items.last = &node;
        packet.items.count += 1;
        return item;
    }

    HostItem& item(size_t i) { return items_[i]; }
    int32_t Long(size_t i) const {
        int32_t v;
        std::memcpy(&v, items_[i].value, sizeof v);
        return v;
    }
    float Float(size_t i) const {
        float v;
        std::memcpy(&v, items_[i].value, sizeof v);
        return v;
    }
    uint16_t Atom(size_t i) const {
        uint16_t v;
        std::memcpy(&v, items_[i].value, sizeof v);
        return v;
    }
    uint64_t Stamp(size_t i) const {
        return (static_cast<uint64_t>(items_[i].timestamp.highDateTime) << 32) |
               items_[i].timestamp.lowDateTime;
    }
    bool Untouched(size_t i) const {
        HostItem fresh;
        std::memset(&fresh, 0xEE, sizeof fresh);
        fresh.address = items_[i].address;
        fresh.quality = 0;
        return std::memcmp(&fresh, &items_[i], sizeof fresh) == 0;
    }
    void SetLong(size_t i, int32_t v) { std::memcpy(items_[i].value, &v, sizeof v); }
    void SetByte(size_t i, uint8_t v) { items_[i].value[0] = v; }

    HostPacket packet;

private:
    std::deque<HostItem> items_;  // stable addresses
    std::deque<HostItemNode> nodes_;
};

constexpr uint64_t kUntouchedStamp = 0xEEEEEEEEEEEEEEEEULL;

}  // namespace vorlan_test
