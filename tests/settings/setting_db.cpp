// SPDX-License-Identifier: Apache-2.0
#include "settings/setting_db.h"

#include <iconv.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "hex.h"
#include "protocol/codecs.h"

namespace vorlan_test {

using vorlan::OdbcStatement;
using vorlan::SqlValue;

namespace {

const char kSqliteDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
const char kPostgresDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbca.so";

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string MakeTempDir() {
    char pattern[] = "/tmp/vorlan-settings.XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void RemoveTree(const std::string& dir) {
    if (dir.rfind("/tmp/vorlan-settings.", 0) != 0) return;
    const std::string command = "rm -rf '" + dir + "'";
    const int rc = std::system(command.c_str());
    (void)rc;
}

std::string SchemaPath(const char* file) { return std::string(VORLAN_SOURCE_DIR) + "/db/" + file; }

class SqliteDb final : public TestSettingDb {
public:
    ~SqliteDb() override {
        Disconnect();
        RemoveTree(dir_);
    }
    std::string Name() const override { return "SQLite"; }

    void Create(bool withSettingTable) override {
        UseDataSource(std::string("Driver=") + kSqliteDriver + "\nDatabase=" + dir_ +
                      "/rldb.sqlite\nTimeout=2000\n");
        RunScript(SchemaPath("schema_sqlite.sql"));
        if (!withSettingTable) Exec("DROP TABLE \"RelayDevSet\"");
    }

    void RejectCode(int code) override {
        Exec("CREATE TRIGGER reject_code BEFORE INSERT ON \"RelayDevSet\" WHEN NEW.\"code\" = " +
             std::to_string(code) + " BEGIN SELECT RAISE(ABORT, 'code rejected'); END");
    }
};

class PostgresDb final : public TestSettingDb {
public:
    explicit PostgresDb(const PgServer& server) : server_(server) {
        // One name per process: the driver manager keeps a data source's
        // settings for a while, so every test of a process reuses the name.
        name_ = "rldb_t" + std::to_string(getpid());
    }
    ~PostgresDb() override {
        Disconnect();
        try {
            Admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
        } catch (const std::exception&) {
            // the server may have been stopped on purpose
        }
        RemoveTree(dir_);
    }
    std::string Name() const override { return "PostgreSQL"; }

    void Create(bool withSettingTable) override {
        Admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
        Admin("CREATE DATABASE " + name_ + " ENCODING 'UTF8' TEMPLATE template0");
        UseDataSource(ServerText("\n") + "Database=" + name_ +
                      "\nConnSettings=SET client_encoding TO 'GBK'\n");
        RunScript(SchemaPath("schema_postgresql.sql"));
        if (!withSettingTable) Exec("DROP TABLE \"RelayDevSet\"");
    }

    void RejectCode(int code) override {
        Exec("ALTER TABLE \"RelayDevSet\" ADD CONSTRAINT reject_code CHECK (\"code\" <> " +
             std::to_string(code) + ")");
    }

private:
    std::string ServerText(const char* separator) const {
        return std::string("Driver=") + kPostgresDriver + separator + "Servername=" + server_.socket +
               separator + "Port=" + server_.port + separator + "Username=" + server_.user + separator;
    }

    void Admin(const std::string& sql) {
        vorlan::OdbcConnection admin(*env_);
        admin.Open(ServerText(";") + "Database=postgres;", 5);
        OdbcStatement stmt(admin);
        stmt.Prepare(sql);
        stmt.Execute({});
    }

    PgServer server_;
    std::string name_;
};

}  // namespace

std::string Gbk(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no GBK converter");
    std::string in = utf8;
    std::string out(in.size() * 2 + 4, '\0');
    char* src = in.data();
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) throw std::runtime_error("text not convertible to GBK");
    out.resize(out.size() - dstLeft);
    return out;
}

PgServer PgServer::Read(const std::string& stateFile) {
    PgServer s;
    std::ifstream in(stateFile);
    if (!in) {
        s.reason = "no state file " + stateFile;
        return s;
    }
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "status") s.running = value == "running";
        if (key == "reason") s.reason = value;
        if (key == "socket") s.socket = value;
        if (key == "port") s.port = value;
        if (key == "user") s.user = value;
        if (key == "bindir") s.bindir = value;
        if (key == "dir") s.dir = value;
    }
    return s;
}

TestSettingDb::TestSettingDb() : dir_(MakeTempDir()), env_(std::make_unique<vorlan::OdbcEnvironment>()) {}

TestSettingDb::~TestSettingDb() = default;

void TestSettingDb::UseDataSource(const std::string& dsnBody) {
    // The system directory holds no odbc.ini, so only ODBCINI names "rldb".
    mkdir((dir_ + "/sys").c_str(), 0700);
    WriteFile(dir_ + "/sys/odbcinst.ini", "[ODBC]\nTrace=No\n");
    WriteFile(dir_ + "/odbc.ini", "[rldb]\n" + dsnBody);
    setenv("ODBCSYSINI", (dir_ + "/sys").c_str(), 1);
    setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
    db_ = std::make_unique<vorlan::OdbcConnection>(*env_);
    db_->Open("DSN=rldb;", 5);
}

void TestSettingDb::RemoveDataSource() {
    mkdir((dir_ + "/sys").c_str(), 0700);
    WriteFile(dir_ + "/sys/odbcinst.ini", "[ODBC]\nTrace=No\n");
    setenv("ODBCSYSINI", (dir_ + "/sys").c_str(), 1);
    WriteFile(dir_ + "/odbc-without-rldb.ini", "[other]\nDriver=none\n");
    setenv("ODBCINI", (dir_ + "/odbc-without-rldb.ini").c_str(), 1);
}

void TestSettingDb::Disconnect() { db_.reset(); }

void TestSettingDb::RunScript(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream text;
    std::string line;
    while (std::getline(in, line)) {
        const size_t comment = line.find("--");
        text << (comment == std::string::npos ? line : line.substr(0, comment)) << '\n';
    }
    std::string statement;
    std::stringstream all(text.str());
    while (std::getline(all, statement, ';')) {
        if (statement.find_first_not_of(" \t\r\n") == std::string::npos) continue;
        Exec(statement);
    }
}

void TestSettingDb::Exec(const std::string& sql, const std::vector<SqlValue>& params) {
    OdbcStatement stmt(*db_);
    stmt.Prepare(sql);
    stmt.Execute(params);
}

std::vector<std::vector<std::string>> TestSettingDb::Query(const std::string& sql) {
    OdbcStatement stmt(*db_);
    stmt.Prepare(sql);
    stmt.Execute({});
    const int columns = stmt.ColumnCount();
    std::vector<std::vector<std::string>> rows;
    while (stmt.Fetch()) {
        std::vector<std::string> row;
        for (int c = 1; c <= columns; ++c) {
            const SqlValue v = stmt.Get(static_cast<SQLUSMALLINT>(c), SqlValue::Type::Text);
            row.push_back(v.IsNull() ? "<null>" : v.text);
        }
        rows.push_back(row);
    }
    stmt.CloseCursor();
    return rows;
}

void TestSettingDb::AddPoint(int rtuType, int kind, int id, const std::string& name, double value,
                             const std::string& comment) {
    Exec("INSERT INTO \"RelayName\" (\"Comment\", \"Value\", \"RtuType\", \"RelayType\", \"RelayID\", "
         "\"RelayName\") VALUES (?, ?, ?, ?, ?, ?)",
         {SqlValue::Text(comment), SqlValue::Real(value), SqlValue::Integer(rtuType),
          SqlValue::Integer(kind), SqlValue::Integer(id), SqlValue::Text(name)});
}

void TestSettingDb::AddCodedRow(int type, int group, int code, const std::string& name, double value,
                                int flag) {
    Exec("INSERT INTO \"RelayDevSet\" (\"type\", \"group\", \"code\", \"number\", \"name\", \"value\", "
         "\"flag\") VALUES (?, ?, ?, 0, ?, ?, ?)",
         {SqlValue::Integer(type), SqlValue::Integer(group), SqlValue::Integer(code),
          SqlValue::Text(name), SqlValue::Real(value), SqlValue::Integer(flag)});
}

std::unique_ptr<TestSettingDb> MakeSqliteDb() { return std::make_unique<SqliteDb>(); }

std::unique_ptr<TestSettingDb> MakePostgresDb(const PgServer& server) {
    return std::make_unique<PostgresDb>(server);
}

std::vector<uint8_t> CodedListFrame(uint8_t address, uint8_t type, const std::vector<uint8_t>& entries) {
    std::vector<uint8_t> data;
    data.reserve(entries.size() + 3);
    data.assign({0x00, type, 0x00});
    data.insert(data.end(), entries.begin(), entries.end());
    return MakeFrame(address, 0xBD, data);
}

std::vector<uint8_t> FloatLayoutFrame(uint8_t address, uint8_t type, const std::vector<float>& floats,
                                      const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> data;
    data.reserve(5 + 4 * floats.size() + bytes.size());
    data.assign({0x00, type, 0x00, static_cast<uint8_t>(floats.size()),
                 static_cast<uint8_t>(bytes.size())});
    for (float f : floats) {
        uint8_t b[4];
        vorlan::PutFloat(f, b);
        data.insert(data.end(), b, b + 4);
    }
    data.insert(data.end(), bytes.begin(), bytes.end());
    return MakeFrame(address, 0xAD, data);
}

}  // namespace vorlan_test
