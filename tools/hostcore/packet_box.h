// SPDX-License-Identifier: Apache-2.0
#pragma once
// The packets a host hands the driver: a HostPacket with the items and list
// nodes it points at, built for the Send register or for checked items.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vorlan/driver.h"

namespace vorlan_host {

// A packet with the host items and list nodes it points at.
struct PacketBox {
    HostPacket packet{};
    std::vector<HostItem> items;
    std::vector<HostItemNode> nodes;
    size_t relay = 0;
    std::string registerName;
    int registerIndex = -1;
    // Builds the item list; call once the items are final.
    void Link();
};

// The one-item Send packet that asks for one request on the line; linked.
std::unique_ptr<PacketBox> MakeSendPacket(size_t relay);

// A packet of the checked item `ref` read (direction 0) or written (1); its
// register name from the catalogue when the index is in it. Not yet linked.
std::unique_ptr<PacketBox> MakeItemPacket(size_t relay, const ItemRef& ref, int16_t direction,
                                          const RegisterDef* catalogue, int32_t catalogueSize);

// Adds the item `ref` names to a packet the driver said it merges with.
void AddItem(PacketBox& box, const ItemRef& ref);

}  // namespace vorlan_host
