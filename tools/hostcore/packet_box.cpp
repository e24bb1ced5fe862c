// SPDX-License-Identifier: Apache-2.0
#include "packet_box.h"

#include <cstring>

namespace vorlan_host {

void PacketBox::Link() {
    nodes.assign(items.size(), HostItemNode{});
    for (size_t i = 0; i < items.size(); ++i) {
        nodes[i].item = &items[i];
        nodes[i].next = i + 1 < items.size() ? &nodes[i + 1] : nullptr;
        nodes[i].prev = i > 0 ? &nodes[i - 1] : nullptr;
    }
    packet.items.first = nodes.empty() ? nullptr : &nodes.front();
    packet.items.last = nodes.empty() ? nullptr : &nodes.back();
    packet.items.count = static_cast<int32_t>(nodes.size());
}

std::unique_ptr<PacketBox> MakeSendPacket(size_t relay) {
    auto send = std::make_unique<PacketBox>();
    send->relay = relay;
    send->registerName = "Send";
    send->registerIndex = VORLAN_REG_SEND;
    send->packet.deviceIndex = static_cast<int16_t>(relay);
    send->packet.device = static_cast<int16_t>(relay);
    send->packet.registerIndex = VORLAN_REG_SEND;
    send->items.resize(1);
    send->Link();
    return send;
}

std::unique_ptr<PacketBox> MakeItemPacket(size_t relay, const ItemRef& ref, int16_t direction,
                                          const RegisterDef* catalogue, int32_t catalogueSize) {
    auto box = std::make_unique<PacketBox>();
    box->relay = relay;
    box->registerIndex = ref.registerIndex;
    if (catalogue && ref.registerIndex >= 0 && ref.registerIndex < catalogueSize) {
        const RegisterDef& def = catalogue[ref.registerIndex];
        box->registerName = std::string(def.name, strnlen(def.name, sizeof def.name));
    }
    box->packet.deviceIndex = static_cast<int16_t>(relay);
    box->packet.device = static_cast<int16_t>(relay);
    box->packet.registerIndex = ref.registerIndex;
    box->packet.firstAddress = ref.dataAddress;
    box->packet.lastAddress = ref.dataAddress;
    box->packet.direction = direction;
    AddItem(*box, ref);
    return box;
}

void AddItem(PacketBox& box, const ItemRef& ref) {
    HostItem item{};
    item.address = static_cast<uint16_t>(ref.dataAddress);
    box.items.push_back(item);
}

}  // namespace vorlan_host
