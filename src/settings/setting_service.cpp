// SPDX-License-Identifier: Apache-2.0
#include "settings/setting_service.h"

#include <exception>

#include "settings/db_message.h"
#include "settings/setting_frames.h"
#include "settings/setting_store.h"
#include "settings/setting_tables.h"

namespace vorlan {

namespace {
constexpr char kConnectText[] = "DSN=rldb;";
}  // namespace

SettingService::SettingService() = default;
SettingService::~SettingService() = default;

void SettingService::ConnectSettingDb() {
    if (connectTried_) return;
    // Marked first: whatever happens below, there is no second attempt.
    connectTried_ = true;
    try {
        store_ = std::make_unique<SettingStore>();
        store_->Connect(kConnectText);
    } catch (const std::exception& e) {
        lastError_ = e.what();
        ReportSettingDbFailure();
    }
    // Without a connection the environment and connection handles serve
    // nothing, and there is no second attempt: they go now. A recordset that
    // failed after connecting leaves the rest in use.
    if (store_ && !store_->Connected()) store_.reset();
}

template <typename Work>
void SettingService::RunDatabaseWork(Work&& work) {
    if (!store_ || !store_->Connected()) return;
    try {
        store_->InTransaction(work);
    } catch (const std::exception& e) {
        // The tables keep what they held before this answer or reload.
        ++failedWork_;
        lastError_ = e.what();
    }
}

void SettingService::StoreCodedSettings(DeviceRecord& relay, ByteView frame) {
    const int32_t slots = DecodeCodedSettings(relay, frame);
    if (slots < 0) return;
    if (store_ && store_->SettingTable() != nullptr) {
        RunDatabaseWork([&] {
            WriteCodedSettings(relay, slots, *store_->SettingTable(), store_->Catalogue());
        });
    }
    relay.settings.settingCount = slots;
    relay.settings.settingByteCount = 0;
    MarkSettingsReceived(relay);
}

void SettingService::StoreSettingValues(DeviceRecord& relay, ByteView frame) {
    SettingValueCounts counts;
    if (!DecodeSettingValues(relay, frame, counts)) return;
    if (store_ && store_->Catalogue() != nullptr) {
        RunDatabaseWork([&] {
            WriteSettingValues(relay, counts.floats, counts.bytes, *store_->Catalogue());
        });
    }
    relay.settings.settingCount = counts.floats;
    relay.settings.settingByteCount = counts.bytes;
    MarkSettingsReceived(relay);
}

void SettingService::LoadSettingsForWrite(DeviceRecord& relay) {
    if (!store_) return;
    if (relay.settings.settingAnswerCode == Code(Answer::SettingsCoded) && store_->SettingTable() != nullptr) {
        RunDatabaseWork([&] { ReloadCodedSettings(relay, *store_->SettingTable()); });
    } else if (relay.settings.settingAnswerCode == Code(Answer::SettingsFloat) && store_->Catalogue() != nullptr) {
        RunDatabaseWork([&] { ReloadSettingValues(relay, *store_->Catalogue()); });
    }
    // Before any setting answer there is nothing to load.
}

SettingDbStatus SettingService::Status() const {
    SettingDbStatus s;
    s.connectTried = connectTried_;
    s.connected = store_ && store_->Connected();
    s.catalogueOpen = store_ && store_->Catalogue() != nullptr;
    s.settingTableOpen = store_ && store_->SettingTable() != nullptr;
    s.failedWork = failedWork_;
    s.lastError = lastError_;
    s.handlesHeld = store_ != nullptr;
    return s;
}

}  // namespace vorlan
