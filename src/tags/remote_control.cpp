#include "tags/host_items.h"
#include "tags/tag_registers.h"
#include "protocol/control_conversation.h"

namespace vorlan {
namespace {

constexpr int32_t kYkPoints = 64;  // control points 1..64
constexpr uint8_t kClose = VORLAN_YK_CLOSE;
constexpr uint8_t kOpen = VORLAN_YK_OPEN;
constexpr uint8_t kCancel = VORLAN_YK_CANCEL;

// Selects `point` with `command` and has the builder serve this relay next.
void Select(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, int32_t point,
            int32_t command) {
    SelectControl(relay, point, command);
    ctx.state.priorityDevice = packet->deviceIndex;
}

}  // namespace

// Read: the progress code of the selected point. Write: each item's code, in
// list order, so a later item overrides an earlier one.
void ServeRemoteControl(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write) {
    if (!write) {
        ForEachItem(packet, [&](HostItem& item) {
            if (static_cast<int32_t>(item.address) - 1 != relay.control.ykPoint) return;
            SetByte(item, static_cast<uint8_t>(relay.control.ykAction & 0xFF));
            item.quality = kQualityGood;
        });
        return;
    }
    ForEachItem(packet, [&](HostItem& item) {
        const uint8_t v = item.value[0];
        if (v == 0) return;
        // A cancel never names a point: it stands whatever the item's address.
        if (v == kCancel) {
            CancelControl(relay);
            return;
        }
        // A point outside the relay's control range is never selected.
        if (item.address < 1 || item.address > kYkPoints) return;
        const int32_t point = static_cast<int32_t>(item.address) - 1;
        if (v == kClose || v == kOpen) Select(ctx, packet, relay, point, v);
        if (v == VORLAN_YK_MARK_OPEN || v == VORLAN_YK_MARK_CLOSE) {
            relay.control.ykPoint = point;
            relay.control.ykAction = v + 10;  // VORLAN_YK_ACTION_MARKED_OPEN/_CLOSE
        }
        if (v == VORLAN_YK_TRACKED_OPEN || v == VORLAN_YK_TRACKED_CLOSE) {
            relay.control.ykAction = v;
            Select(ctx, packet, relay, point, v == VORLAN_YK_TRACKED_CLOSE ? kClose : kOpen);
        }
    });
}

}  // namespace vorlan
