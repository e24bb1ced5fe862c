// SPDX-License-Identifier: Apache-2.0
// With no data source "rldb": one attempt, one line on standard error, no
// handles kept, and the setting answers still fill the device record.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "hex.h"
#include "settings/db_message.h"
#include "settings/setting_db.h"
#include "settings/setting_service.h"

namespace vorlan_test {
namespace {

// Standard error into a string while it lives.
std::string CaptureStderr(const std::function<void()>& work) {
    std::fflush(stderr);
    const int saved = dup(2);
    std::FILE* file = std::tmpfile();
    dup2(fileno(file), 2);
    work();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::rewind(file);
    std::string text;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
}

// In a fresh process: the driver manager remembers resolved data sources for
// a while, so another test's "rldb" would still be found.
TEST(MissingDataSourceTest, IsReportedOnceAndNeverTriedAgain) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto body = [] {
        auto db = MakeSqliteDb();  // only its directory is used
        db->RemoveDataSource();
        vorlan::SettingService service;
        vorlan::DeviceRecord relay;
        int failures = 0;
        const std::string first = CaptureStderr([&] {
            service.ConnectSettingDb();
            service.ConnectSettingDb();
        });
        if (first != std::string(vorlan::kSettingDbFailureText) + "\n") failures |= 1;
        // The failed attempt keeps no ODBC handles.
        if (service.Status().handlesHeld) failures |= 8;

        // A data source "rldb" appears: no second attempt.
        std::ofstream(db->Dir() + "/later.ini")
            << "[rldb]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\nDatabase="
            << db->Dir() << "/later.sqlite\n";
        setenv("ODBCINI", (db->Dir() + "/later.ini").c_str(), 1);
        const std::string second = CaptureStderr([&] { service.ConnectSettingDb(); });
        if (!second.empty() || service.Status().connected) failures |= 2;

        const auto frame = CodedListFrame(1, 21, Hex("00 10 50 12"));
        service.StoreCodedSettings(relay, vorlan::ByteView(frame.data(), frame.size()));
        service.LoadSettingsForWrite(relay);
        if (relay.settings.settingCount != 1 || relay.settings.settingState != 1 || relay.settings.settingValue[0] != 25.0f ||
            relay.settings.rtuType != 210) {
            failures |= 4;
        }
        db.reset();
        std::exit(failures);
    };
    EXPECT_EXIT(body(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vorlan_test
