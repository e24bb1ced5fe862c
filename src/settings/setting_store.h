// SPDX-License-Identifier: Apache-2.0
#pragma once
// The setting database of one driver object: the connection to "rldb" and
// the recordsets on its two tables, owned together and released in the order
// catalogue, setting table, connection.

#include <memory>
#include <string>

#include "settings/odbc_handles.h"
#include "settings/setting_recordsets.h"

namespace vorlan {

class SettingStore {
public:
    SettingStore();
    ~SettingStore();
    SettingStore(const SettingStore&) = delete;
    SettingStore& operator=(const SettingStore&) = delete;

    // Connects and opens the catalogue, then the setting table. Throws at the
    // first failure; what was opened before it stays usable.
    void Connect(const std::string& connectText);

    // The recordsets that opened, else null.
    CMyRecordset* Catalogue() { return Usable(catalogueSet_.get()); }
    RecordsetDev* SettingTable() { return Usable(settingSet_.get()); }

    // Runs `work` in one transaction: committed when it returns, rolled back
    // when it throws (the exception goes on to the caller).
    template <typename Work>
    void InTransaction(Work&& work) {
        OdbcTransaction transaction(*settingDb_);
        work();
        transaction.Commit();
    }
    bool Connected() const { return settingDb_ && settingDb_->IsOpen(); }

private:
    template <typename R>
    static R* Usable(R* set) { return set != nullptr && set->IsOpen() ? set : nullptr; }

    // Declared so that destruction runs catalogue, setting table, connection.
    std::unique_ptr<OdbcEnvironment> environment_;
    std::unique_ptr<OdbcConnection> settingDb_;
    std::unique_ptr<RecordsetDev> settingSet_;
    std::unique_ptr<CMyRecordset> catalogueSet_;
};

}  // namespace vorlan
