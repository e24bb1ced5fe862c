// SPDX-License-Identifier: Apache-2.0
#pragma once
// The host's own view of the setting database: the settings the driver
// stored for a relay type, and the operator's edits before a write.

#include <string>
#include <vector>

namespace vorlan_host {

struct SettingRow {
    bool coded = true;      // [RelayDevSet] row (coded list) or [RelayName] row (float layout)
    int kind = 1;           // float layout: 1 = 4-byte value, 2 = 1-byte value
    int id = 0;             // coded list: the setting code; float layout: RelayID
    std::string name;       // GBK bytes as stored
    double value = 0;
    int flag = 1;           // coded list only
};

class SettingDb {
public:
    SettingDb();
    ~SettingDb();
    SettingDb(const SettingDb&) = delete;
    SettingDb& operator=(const SettingDb&) = delete;

    // Connects to the data source; empty text on success.
    std::string Connect(const std::string& dsn);

    // The settings stored for relay type `type`: the coded rows when the
    // type has any, else the catalogue's numeric and byte settings.
    std::string Load(int type, std::vector<SettingRow>& rows);
    // Stores an edited value (and, for a coded row, its flag).
    std::string Update(int type, const SettingRow& row);

private:
    std::string Quote(const std::string& name) const;
    std::string Error(const char* what, short handleType, void* handle) const;

    void* env_ = nullptr;
    void* dbc_ = nullptr;
    bool connected_ = false;
    std::string quote_ = "\"";
};

}  // namespace vorlan_host
