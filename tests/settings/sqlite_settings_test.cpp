// SPDX-License-Identifier: Apache-2.0
// The setting database cases on SQLite through its ODBC driver.
#include "settings/setting_scenarios.h"

namespace vorlan_test {

std::unique_ptr<TestSettingDb> MakeTestDb(std::string& /*skipReason*/) { return MakeSqliteDb(); }

}  // namespace vorlan_test
