// SPDX-License-Identifier: Apache-2.0
#pragma once
// The setting database of the driver object and the setting answers, reloads
// and writes that use it.

#include <cstdint>
#include <memory>
#include <string>

#include "model/device_record.h"
#include "model/byte_view.h"

namespace vorlan {

class SettingStore;  // the connection and the two recordsets

// What the setting database is doing, for tools and tests.
struct SettingDbStatus {
    bool connectTried = false;
    bool connected = false;
    bool catalogueOpen = false;     // [RelayName]
    bool settingTableOpen = false;  // [RelayDevSet]
    int32_t failedWork = 0;         // answers and reloads whose database work was rolled back
    std::string lastError;          // the last database error, for diagnosis
    bool handlesHeld = false;       // ODBC environment and connection allocated
};

class SettingService {
public:
    SettingService();
    ~SettingService();  // releases catalogue, setting table, connection
    SettingService(const SettingService&) = delete;
    SettingService& operator=(const SettingService&) = delete;

    // At the start of every packet call: connects to "rldb" the first time;
    // a failed connection is reported once and never tried again.
    void ConnectSettingDb();

    // Answer 0xBD and 0xAD: fill `relay`'s setting slots, then (when the
    // database is usable) the tables, all of one answer in one transaction.
    // A database error rolls that work back; the slots stay filled.
    void StoreCodedSettings(DeviceRecord& relay, ByteView frame);  // answer 0xBD
    void StoreSettingValues(DeviceRecord& relay, ByteView frame);  // answer 0xAD
    // Reloads the edited values of `relay`'s setting table before a 0x8C write.
    void LoadSettingsForWrite(DeviceRecord& relay);

    SettingDbStatus Status() const;

private:
    template <typename Work>
    void RunDatabaseWork(Work&& work);

    bool connectTried_ = false;
    std::unique_ptr<SettingStore> store_;
    int32_t failedWork_ = 0;
    std::string lastError_;
};

}  // namespace vorlan
