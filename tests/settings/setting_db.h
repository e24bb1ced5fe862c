// SPDX-License-Identifier: Apache-2.0
#pragma once
// A private setting database for one test, reachable as the data source
// "rldb" through an odbc.ini of its own (ODBCINI and ODBCSYSINI point at it),
// plus a connection of the test's own to look into the tables.

#include <memory>
#include <string>
#include <vector>

#include "settings/odbc_handles.h"

namespace vorlan_test {

// GBK bytes of a UTF-8 text, as the host stores names.
std::string Gbk(const std::string& utf8);

// The facts of a running PostgreSQL server, from the state file of
// tests/db/pg_server.sh.
struct PgServer {
    bool running = false;
    std::string reason;  // why not
    std::string socket;
    std::string port;
    std::string user;
    std::string bindir;
    std::string dir;
    static PgServer Read(const std::string& stateFile);
};

class TestSettingDb {
public:
    virtual ~TestSettingDb();

    // Creates the tables (all but [RelayDevSet] when asked) in an empty
    // database and the odbc.ini naming it "rldb".
    virtual void Create(bool withSettingTable = true) = 0;
    // Makes inserting a [RelayDevSet] row with `code` fail.
    virtual void RejectCode(int code) = 0;
    virtual std::string Name() const = 0;

    // Runs one statement on the test's own connection (autocommit).
    void Exec(const std::string& sql, const std::vector<vorlan::SqlValue>& params = {});
    // Rows of a query, every column as text, NULL as "<null>".
    std::vector<std::vector<std::string>> Query(const std::string& sql);
    // A catalogue row; `name` and `comment` are stored as given.
    void AddPoint(int rtuType, int kind, int id, const std::string& name, double value,
                  const std::string& comment = "");
    void AddCodedRow(int type, int group, int code, const std::string& name, double value, int flag);
    // Replaces the odbc.ini with one that lacks "rldb".
    void RemoveDataSource();
    // Closes the test's own connection (before the database goes away).
    void Disconnect();

    const std::string& Dir() const { return dir_; }

protected:
    TestSettingDb();
    // Writes odbcinst.ini and odbc.ini with [rldb] = `dsnBody` and sets the
    // environment; then opens the test's own connection.
    void UseDataSource(const std::string& dsnBody);
    void RunScript(const std::string& path);

    std::string dir_;
    std::unique_ptr<vorlan::OdbcEnvironment> env_;
    std::unique_ptr<vorlan::OdbcConnection> db_;
};

std::unique_ptr<TestSettingDb> MakeSqliteDb();
// Each database gets a fresh name on `server`; dropped when the object goes.
std::unique_ptr<TestSettingDb> MakePostgresDb(const PgServer& server);

// The relay's answer frames, with their CRC.
std::vector<uint8_t> CodedListFrame(uint8_t address, uint8_t type,
                                    const std::vector<uint8_t>& entries);
std::vector<uint8_t> FloatLayoutFrame(uint8_t address, uint8_t type, const std::vector<float>& floats,
                                      const std::vector<uint8_t>& bytes);

}  // namespace vorlan_test
