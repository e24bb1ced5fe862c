#include "settings/setting_service.h"

// Placeholder until the setting database lands.
namespace vorlan {
class SettingStore {};
SettingService::SettingService() = default;
SettingService::~SettingService() = default;
void SettingService::ConnectSettingDb() { connectTried_ = true; }
void SettingService::StoreCodedSettings(DeviceRecord&, ByteView) {}
void SettingService::StoreSettingValues(DeviceRecord&, ByteView) {}
void SettingService::LoadSettingsForWrite(DeviceRecord&) {}
}  // namespace vorlan
