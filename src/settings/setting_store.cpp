// SPDX-License-Identifier: Apache-2.0
#include "settings/setting_store.h"

namespace vorlan {

namespace {
// Seconds a connection attempt may wait for an unreachable server.
constexpr int kLoginTimeoutSeconds = 5;
}  // namespace

SettingStore::SettingStore() = default;

SettingStore::~SettingStore() {
    catalogueSet_.reset();
    settingSet_.reset();
    settingDb_.reset();
}

void SettingStore::Connect(const std::string& connectText) {
    environment_ = std::make_unique<OdbcEnvironment>();
    settingDb_ = std::make_unique<OdbcConnection>(*environment_);
    settingDb_->Open(connectText, kLoginTimeoutSeconds);
    catalogueSet_ = std::make_unique<CMyRecordset>(*settingDb_);
    catalogueSet_->Open();
    settingSet_ = std::make_unique<RecordsetDev>(*settingDb_);
    settingSet_->Open();
}

}  // namespace vorlan
