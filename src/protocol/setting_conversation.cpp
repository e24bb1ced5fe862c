#include "protocol/setting_conversation.h"

#include "protocol/conversation.h"

namespace vorlan {

void AskSettingRead(DeviceRecord& relay, uint8_t zone) {
    relay.settings.settingState = VORLAN_SETTING_REQUESTED;
    relay.settings.settingZone = zone;
    AskNext(relay, Request::SettingRead);
}

void AskZoneSwitch(DeviceRecord& relay, uint8_t zone) {
    relay.settings.settingState = VORLAN_SETTING_REQUESTED;
    relay.settings.settingZone = zone;
    AskNext(relay, Request::ZoneSwitch);
}

void AskSettingWrite(DeviceRecord& relay) {
    relay.settings.settingState = VORLAN_SETTING_WRITING;
    AskNext(relay, Request::SettingWrite);
}

void ZoneSwitchWritten(DeviceRecord& relay) {
    relay.settings.settingState = VORLAN_SETTING_SWITCHING;
}

bool SettingReadDue(DeviceRecord& relay) {
    if (relay.settings.settingState != VORLAN_SETTING_SWITCHING) return false;
    AskNext(relay, Request::SettingRead);
    relay.settings.settingState = VORLAN_SETTING_REQUESTED;
    return true;
}

void SettingWriteAcknowledged(DeviceRecord& relay) {
    if (relay.settings.settingState == VORLAN_SETTING_WRITING) {
        relay.settings.settingState = VORLAN_SETTING_ACKNOWLEDGED;
    }
}

void SettingsReceived(DeviceRecord& relay) {
    if (relay.settings.settingState != VORLAN_SETTING_WRITING) {
        relay.settings.settingState = VORLAN_SETTING_RECEIVED;
    }
}

}  // namespace vorlan
