#include "tags/host_items.h"
#include "tags/tag_registers.h"
#include "settings/setting_service.h"
#include "protocol/setting_conversation.h"

namespace vorlan {

constexpr uint8_t kNoZone = 100;       // DZone's initial, no-zone value
constexpr uint8_t kKeepZone = 255;     // DZNow's "no switch"
constexpr uint8_t kWriteSettings = 2;  // DZWR value that starts a write

void ServeSettingZone(HostPacket* packet, DeviceRecord& relay, bool write) {
    if (!write) {
        ForEachItem(packet, [&](HostItem& item) {
            SetByte(item, relay.settings.settingZone);
            item.quality = kQualityGood;
        });
        return;
    }
    HostItem* first = FirstItem(packet);
    if (first == nullptr || first->value[0] == kNoZone) return;
    AskSettingRead(relay, first->value[0]);
}

void ServeSettingWrite(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write) {
    HostItem* first = FirstItem(packet);
    if (first == nullptr) return;
    if (!write) {
        SetLong(*first, relay.settings.settingState);
        first->quality = kQualityGood;
        return;
    }
    if (first->value[0] != kWriteSettings) return;
    // The values written are the edited ones of this relay's table.
    AskSettingWrite(relay);
    if (ctx.settings != nullptr) ctx.settings->LoadSettingsForWrite(relay);
}

void ServeZoneSwitch(HostPacket* packet, DeviceRecord& relay, bool write) {
    HostItem* first = FirstItem(packet);
    if (!write || first == nullptr || first->value[0] == kKeepZone) return;
    AskZoneSwitch(relay, first->value[0]);
}

}  // namespace vorlan
