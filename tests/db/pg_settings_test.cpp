// SPDX-License-Identifier: Apache-2.0
// The setting database cases on PostgreSQL through psqlODBC, and what
// happens when the server goes away in the middle of a run.
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <mutex>

#include "settings/setting_scenarios.h"

namespace vorlan_test {

namespace {

std::string RunScript(const char* action, const std::string& state) {
    const std::string command = std::string(VORLAN_PG_SCRIPT) + " " + action + " '" + state + "'";
    return std::system(command.c_str()) == 0 ? "" : command + " failed";
}

// A server of this program's own, for a run outside CTest's fixture.
class OwnServer : public ::testing::Environment {
public:
    void TearDown() override {
        if (!state.empty()) RunScript("stop", state);
    }
    std::string state;
};
OwnServer* ownServer = static_cast<OwnServer*>(::testing::AddGlobalTestEnvironment(new OwnServer));

// The fixture's server, or one started here when there is none.
const PgServer& SharedServer() {
    static PgServer server;
    static std::once_flag once;
    std::call_once(once, [] {
        if (access(VORLAN_PG_STATE, R_OK) == 0) {
            server = PgServer::Read(VORLAN_PG_STATE);
            return;
        }
        char pattern[] = "/tmp/vorlan-pg-state.XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd >= 0) close(fd);
        ownServer->state = pattern;
        RunScript("start", ownServer->state);
        server = PgServer::Read(ownServer->state);
    });
    return server;
}

}  // namespace

std::unique_ptr<TestSettingDb> MakeTestDb(std::string& skipReason) {
    const PgServer& server = SharedServer();
    if (!server.running) {
        skipReason = "PostgreSQL server could not start: " + server.reason;
        return nullptr;
    }
    return MakePostgresDb(server);
}

// A server of the test's own, stopped halfway through; in a fresh process so
// that the data source's settings are read anew.
TEST(PostgresStopTest, TheServerStoppingMidRunLeavesTheDriverWorking) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto body = [] {
        char pattern[] = "/tmp/vorlan-pg-state.XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) std::exit(100);
        close(fd);
        const std::string state = pattern;
        RunScript("start", state);
        const PgServer server = PgServer::Read(state);
        if (!server.running) {
            std::fprintf(stderr, "PostgreSQL server could not start: %s\n", server.reason.c_str());
            unlink(pattern);
            std::exit(0);
        }
        int failures = 0;
        // What the driver writes to standard error goes to a file we read afterwards.
        char errPattern[] = "/tmp/vorlan-pg-stderr.XXXXXX";
        const int errFd = mkstemp(errPattern);
        if (errFd < 0 || dup2(errFd, 2) < 0) std::exit(101);
        {
            vorlan::DeviceRecord relay;
            auto db = MakePostgresDb(server);
            db->Create(true);
            db->AddPoint(31, 1, 1, "f1", 0);
            db->AddPoint(210, 1, 1, "a", 0);
            vorlan::SettingService service;
            service.ConnectSettingDb();
            if (!service.Status().settingTableOpen) failures |= 1;

            const auto floats = FloatLayoutFrame(1, 31, {2.5f}, {});
            service.StoreSettingValues(relay, vorlan::ByteView(floats.data(), floats.size()));
            if (service.Status().failedWork != 0) failures |= 2;
            db->Disconnect();

            RunScript("stop", state);

            const auto coded = CodedListFrame(1, 21, kThreeEntries);
            service.StoreCodedSettings(relay, vorlan::ByteView(coded.data(), coded.size()));
            if (relay.settings.settingCount != 3 || relay.settings.settingState != 1 || relay.settings.settingValue[1] != -1.5f) {
                failures |= 4;
            }
            service.LoadSettingsForWrite(relay);
            if (relay.settings.settingValue[0] != 25.0f) failures |= 8;
            service.StoreSettingValues(relay, vorlan::ByteView(floats.data(), floats.size()));
            if (relay.settings.settingCount != 1 || relay.settings.settingValue[0] != 2.5f) failures |= 16;
            // Each piece of work after the stop ended with an error, none crashed.
            if (service.Status().failedWork != 3) failures |= 32;
        }
        // The connection was made before the stop: no database message at all.
        std::ifstream err(errPattern, std::ios::binary);
        const std::string written((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
        if (written.find("\xE8\xBF\x9E\xE6\x8E\xA5") != std::string::npos) failures |= 64;  // "连接"
        unlink(errPattern);
        std::exit(failures);
    };
    EXPECT_EXIT(body(), ::testing::ExitedWithCode(0), "");
}

}  // namespace vorlan_test
