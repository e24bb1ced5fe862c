#pragma once
// The setting database of the driver object and the setting answers, reloads
// and writes that use it.

#include <memory>

#include "points/device_record.h"
#include "protocol/byte_view.h"

namespace vorlan {

class SettingStore;  // the connection and the two recordsets

class SettingService {
public:
    SettingService();
    ~SettingService();
    SettingService(const SettingService&) = delete;
    SettingService& operator=(const SettingService&) = delete;

    // At the start of every packet call: connects to "rldb" the first time;
    // a failed connection is reported once and never tried again.
    void ConnectSettingDb();

    void StoreCodedSettings(DeviceRecord& relay, ByteView frame);  // answer 0xBD
    void StoreSettingValues(DeviceRecord& relay, ByteView frame);  // answer 0xAD
    // Reloads the edited values of `relay`'s setting table before a 0x8C write.
    void LoadSettingsForWrite(DeviceRecord& relay);

private:
    bool connectTried_ = false;
    std::unique_ptr<SettingStore> store_;
};

}  // namespace vorlan
