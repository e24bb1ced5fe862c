// SPDX-License-Identifier: Apache-2.0
// Setting answers against the setting database: a coded list of 120 entries
// against a catalogue of 300 rows (delete, then 120 inserts), and a float
// layout that updates 200 catalogue rows, on SQLite and on PostgreSQL. Time
// per answer; targets 5 ms (SQLite) and 30 ms (PostgreSQL) per coded list.
//
//   bench_settings_answers                 both databases, one process each
//   bench_settings_answers --db=sqlite     (or --db=postgresql) one of them
//   bench_settings_answers --db=postgresql --pin   pinned to one CPU
// The PostgreSQL run starts a throw-away server with tests/db/pg_server.sh.
// It runs twice: unpinned, and pinned to one CPU with its server (as
// `taskset -c N` would), because unpinned the figures measure the scheduler
// moving client and server between CPUs as much as the code.

#include <benchmark/benchmark.h>
#include <sched.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/codecs.h"
#include "model/frame.h"
#include "settings/odbc_handles.h"
#include "settings/setting_service.h"

extern char** environ;

namespace {

using vorlan::SqlValue;

// From the build: __FILE__ is relative when the compiler launcher rewrites paths.
const std::string kSourceDir = VORLAN_SOURCE_DIR;
constexpr int kCodedEntries = 120;
constexpr int kCatalogueRows = 300;
constexpr int kFloatValues = 16;   // 16 four-byte and 184 one-byte values: 200 rows
constexpr int kByteValues = 184;   // in one frame (5 + 4 * 16 + 184 = 253 payload bytes)

std::vector<uint8_t> Frame(uint8_t command, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> f;
    f.reserve(data.size() + vorlan::kFrameOverhead);
    f.assign({1, command, static_cast<uint8_t>(data.size())});
    f.insert(f.end(), data.begin(), data.end());
    const uint16_t crc = vorlan::ComputeCrc(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

struct Database {
    std::string dir;
    std::string pgState;
    bool usable = false;
    std::string reason;
};
Database g_db;

void Exec(vorlan::OdbcConnection& db, const std::string& sql, const std::vector<SqlValue>& p = {}) {
    vorlan::OdbcStatement stmt(db);
    stmt.Prepare(sql);
    stmt.Execute(p);
}

std::string Read(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return "";
}

// A database with both tables and the catalogues of types 210 and 31,
// reachable as "rldb".
void Prepare(const std::string& kind) {
    char pattern[] = "/tmp/vorlan-bench.XXXXXX";
    g_db.dir = mkdtemp(pattern);
    std::string dsn;
    std::string schema;
    if (kind == "sqlite") {
        dsn = "Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\nDatabase=" + g_db.dir +
              "/rldb.sqlite\nJournalMode=WAL\nSyncPragma=NORMAL\n";
        schema = kSourceDir + "/db/schema_sqlite.sql";
    } else {
        g_db.pgState = g_db.dir + "/pg.state";
        const std::string start = kSourceDir + "/tests/db/pg_server.sh start " + g_db.pgState;
        if (std::system(start.c_str()) != 0 || Read(g_db.pgState, "status") != "running") {
            g_db.reason = "PostgreSQL server could not start: " + Read(g_db.pgState, "reason");
            return;
        }
        dsn = "Driver=/usr/lib/x86_64-linux-gnu/odbc/psqlodbca.so\nServername=" +
              Read(g_db.pgState, "socket") + "\nPort=" + Read(g_db.pgState, "port") +
              "\nUsername=vorlan\nDatabase=rldb\nConnSettings=SET client_encoding TO 'GBK'\n";
        schema = kSourceDir + "/db/schema_postgresql.sql";
    }
    std::ofstream(g_db.dir + "/odbc.ini") << "[rldb]\n" << dsn;
    std::ofstream(g_db.dir + "/odbcinst.ini") << "[ODBC]\n";
    setenv("ODBCINI", (g_db.dir + "/odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", g_db.dir.c_str(), 1);

    vorlan::OdbcEnvironment env;
    vorlan::OdbcConnection db(env);
    db.Open("DSN=rldb;", 5);
    std::ifstream in(schema);
    std::string text, line;
    while (std::getline(in, line)) text += line.substr(0, line.find("--")) + "\n";
    size_t from = 0;
    for (size_t semi; (semi = text.find(';', from)) != std::string::npos; from = semi + 1) {
        const std::string statement = text.substr(from, semi - from);
        if (statement.find_first_not_of(" \n") != std::string::npos) Exec(db, statement);
    }
    db.SetAutoCommit(false);
    const std::string insert = "INSERT INTO \"RelayName\" VALUES (?, 0, ?, ?, ?, ?)";
    for (int i = 1; i <= kCatalogueRows; ++i) {
        const std::string name = "point " + std::to_string(i);
        // Coded list: numeric points 1..300 name codes 0..299.
        Exec(db, insert, {SqlValue::Text("c"), SqlValue::Integer(210), SqlValue::Integer(1),
                          SqlValue::Integer(i), SqlValue::Text(name)});
        // Float layout: 16 numeric, 184 byte points, 100 more numeric ones.
        const bool byte = i > kFloatValues && i <= kFloatValues + kByteValues;
        const int id = byte ? i - kFloatValues : (i <= kFloatValues ? i : i - kByteValues);
        Exec(db, insert, {SqlValue::Text("c"), SqlValue::Integer(31), SqlValue::Integer(byte ? 2 : 1),
                          SqlValue::Integer(id), SqlValue::Text(name)});
    }
    db.EndTransaction(true);
    db.SetAutoCommit(true);
    g_db.usable = true;
}

void Cleanup() {
    if (!g_db.pgState.empty()) {
        const std::string stop = kSourceDir + "/tests/db/pg_server.sh stop " + g_db.pgState;
        if (std::system(stop.c_str()) != 0) std::fprintf(stderr, "stopping the server failed\n");
    }
    if (!g_db.dir.empty()) {
        const std::string rm = "rm -rf '" + g_db.dir + "'";
        if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "removing %s failed\n", g_db.dir.c_str());
    }
}

void CodedList(benchmark::State& state) {
    if (!g_db.usable) {
        state.SkipWithError(g_db.reason.c_str());
        return;
    }
    vorlan::SettingService service;
    service.ConnectSettingDb();
    std::vector<uint8_t> data;
    data.reserve(vorlan::kMaxFrameData);
    data.assign({0, 21, 0});
    for (int code = 0; code < kCodedEntries; ++code) {
        data.push_back(static_cast<uint8_t>(code));
        data.push_back(0x00);  // kind 0, no value bytes: 120 entries fit one frame
    }
    const std::vector<uint8_t> frame = Frame(0xBD, data);
    vorlan::DeviceRecord relay;
    for (auto _ : state) {
        service.StoreCodedSettings(relay, vorlan::ByteView(frame.data(), frame.size()));
    }
    if (service.Status().failedWork != 0) state.SkipWithError(service.Status().lastError.c_str());
    state.counters["rows_inserted"] = kCodedEntries;
}

void FloatLayout(benchmark::State& state) {
    if (!g_db.usable) {
        state.SkipWithError(g_db.reason.c_str());
        return;
    }
    vorlan::SettingService service;
    service.ConnectSettingDb();
    // Two answers with different values, so that every answer writes 200 rows.
    std::vector<std::vector<uint8_t>> frames;
    for (int variant = 0; variant < 2; ++variant) {
        std::vector<uint8_t> data;
        data.reserve(vorlan::kMaxFrameData);
        data.assign({0, 31, 0, kFloatValues, kByteValues});
        for (int i = 0; i < kFloatValues; ++i) {
            uint8_t b[4];
            vorlan::PutFloat(static_cast<float>(i + variant) + 0.5f, b);
            data.insert(data.end(), b, b + 4);
        }
        for (int i = 0; i < kByteValues; ++i) data.push_back(static_cast<uint8_t>(variant));
        frames.push_back(Frame(0xAD, data));
    }
    vorlan::DeviceRecord relay;
    size_t n = 0;
    for (auto _ : state) {
        const auto& frame = frames[n++ % 2];
        service.StoreSettingValues(relay, vorlan::ByteView(frame.data(), frame.size()));
    }
    if (service.Status().failedWork != 0) state.SkipWithError(service.Status().lastError.c_str());
    state.counters["rows_updated"] = kFloatValues + kByteValues;
}

// Keeps this process, and the server it starts, on the first CPU it may use.
bool PinToOneCpu(int& cpu) {
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return false;
    for (cpu = 0; cpu < CPU_SETSIZE && !CPU_ISSET(cpu, &allowed); ++cpu) {
    }
    if (cpu == CPU_SETSIZE) return false;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return sched_setaffinity(0, sizeof one, &one) == 0;
}

int RunChild(char* self, const char* option, int argc, char** argv, const char* extra = nullptr) {
    std::vector<char*> args{self, const_cast<char*>(option)};
    if (extra != nullptr) args.push_back(const_cast<char*>(extra));
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, args.data(), environ) != 0) return 1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string kind;
    bool pin = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--db=", 5) == 0) kind = argv[i] + 5;
        if (std::strcmp(argv[i], "--pin") == 0) pin = true;
    }
    if (kind.empty()) {
        // One process per database: the driver manager keeps what it has
        // read about "rldb" for a while.
        const int a = RunChild(argv[0], "--db=sqlite", argc, argv);
        const int b = RunChild(argv[0], "--db=postgresql", argc, argv);
        const int c = RunChild(argv[0], "--db=postgresql", argc, argv, "--pin");
        return a != 0 ? a : b != 0 ? b : c;
    }
    std::string label = kind;
    if (kind == "postgresql") {
        int cpu = 0;
        if (pin && !PinToOneCpu(cpu)) {
            std::fprintf(stderr, "cannot pin to one CPU\n");
            return 1;
        }
        label += pin ? "/pinned_cpu" + std::to_string(cpu) : "/unpinned";
    }
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--db=", 5) != 0 && std::strcmp(argv[i], "--pin") != 0) rest.push_back(argv[i]);
    }
    int restCount = static_cast<int>(rest.size());
    try {
        Prepare(kind);
    } catch (const std::exception& e) {
        g_db.reason = e.what();
    }
    benchmark::RegisterBenchmark((label + "/coded_list_120_entries").c_str(), CodedList)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((label + "/float_layout_200_rows").c_str(), FloatLayout)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&restCount, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Cleanup();
    return 0;
}
