#include "tags/host_items.h"
#include "tags/tag_registers.h"
#include "settings/setting_service.h"
#include "protocol/conversation.h"

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
    relay.settings.settingState = 0;
    relay.settings.settingZone = first->value[0];
    AskNext(relay, Request::SettingRead);
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
    relay.settings.settingState = 2;
    // The values written are the edited ones of this relay's table.
    if (ctx.settings != nullptr) ctx.settings->LoadSettingsForWrite(relay);
    AskNext(relay, Request::SettingWrite);
}

void ServeZoneSwitch(HostPacket* packet, DeviceRecord& relay, bool write) {
    HostItem* first = FirstItem(packet);
    if (!write || first == nullptr || first->value[0] == kKeepZone) return;
    relay.settings.settingState = 0;
    relay.settings.settingZone = first->value[0];
    AskNext(relay, Request::ZoneSwitch);
}

}  // namespace vorlan
