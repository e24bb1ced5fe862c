// SPDX-License-Identifier: Apache-2.0
// vorlan-gateway's OPC UA server under load: 4 lines of 32 relays on paced
// simulated lines, 20 OPC UA clients each subscribed to every point
// (publishing every 100 ms, sampling on every change), one more client
// reading 100 measurements at a time, and the 50 Modbus TCP clients of
// bench_gateway_load. Prints, beside the targets, the time from the answer
// that brought a new value to the client's notification (the value's source
// time stamp is the answer's time; the clients read the same clock), the
// read service time, the gateway's CPU and resident memory.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gateway_bench.h"
#include "simulator.h"

#if VORLAN_OPCUA
#include <open62541/client.h>
#include <open62541/client_config_default.h>
#include <open62541/client_highlevel.h>
#include <open62541/client_subscriptions.h>
#endif

namespace {

using namespace vorlan_gateway_bench;

constexpr int kLines = 4;
constexpr int kRelays = 32;
constexpr int kUaClients = 20;
constexpr int kModbusClients = 50;
constexpr int kPollHz = 10;
constexpr int kBaud = 9600;
constexpr double kPublishMs = 100;
constexpr int kReadNodes = 100;

// Every point of a relay the clients subscribe to.
struct Point {
    const char* kind;
    int count;
    bool answerTime;  // stamped with the answer's time (YX may carry the relay's own clock)
};
constexpr Point kPoints[] = {{"YC", 8, true}, {"YX", 32, false}, {"YM", 4, true}};

#if VORLAN_OPCUA

std::string NodeText(int line, int relay, const char* kind, int n) {
    return "Vorlan/bench/line" + std::to_string(line + 1) + "/relay " + std::to_string(relay) + "/" + kind +
           std::to_string(n);
}

void Quiet(void*, UA_LogLevel level, UA_LogCategory, const char* format, va_list args) {
    if (level < UA_LOGLEVEL_ERROR) return;
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}
UA_Logger gQuiet{Quiet, nullptr, nullptr};

UA_Client* Connect(const std::string& url) {
    // The logger is given before the defaults, so the client's event loop takes it too.
    UA_ClientConfig cc;
    std::memset(&cc, 0, sizeof cc);
    cc.logging = &gQuiet;
    UA_ClientConfig_setDefault(&cc);
    cc.timeout = 60000;
    UA_Client* client = UA_Client_newWithConfig(&cc);
    if (!client) return nullptr;
    if (UA_Client_connect(client, url.c_str()) != UA_STATUSCODE_GOOD) {
        UA_Client_delete(client);
        return nullptr;
    }
    return client;
}

char kAnswerTimed = 1;

// One subscribing client on its own thread.
struct Watcher {
    std::thread thread;
    std::atomic<bool> ready{false}, failed{false};
    std::atomic<int64_t> from{INT64_MAX};    // measure values stamped from here on (UA_DateTime)
    std::vector<double> latencyMs;          // written by the thread only
    long notifications = 0;
    size_t items = 0;

    static void OnChange(UA_Client*, UA_UInt32, void* sub, UA_UInt32, void* mon, UA_DataValue* v) {
        Watcher& w = *static_cast<Watcher*>(sub);
        ++w.notifications;
        if (mon != &kAnswerTimed || !v->hasSourceTimestamp || v->status != UA_STATUSCODE_GOOD) return;
        const int64_t from = w.from.load(std::memory_order_relaxed);
        if (v->sourceTimestamp < from) return;
        w.latencyMs.push_back(static_cast<double>(UA_DateTime_now() - v->sourceTimestamp) / UA_DATETIME_MSEC);
    }

    void Run(const std::string& url, const std::atomic<bool>& stop) {
        UA_Client* client = Connect(url);
        if (!client) {
            failed = true;
            return;
        }
        UA_CreateSubscriptionRequest sr = UA_CreateSubscriptionRequest_default();
        sr.requestedPublishingInterval = kPublishMs;
        sr.requestedMaxKeepAliveCount = 20;
        sr.requestedLifetimeCount = 200;
        UA_CreateSubscriptionResponse sub = UA_Client_Subscriptions_create(client, sr, this, nullptr, nullptr);
        const UA_UInt32 subId = sub.subscriptionId;
        const bool subscribed = sub.responseHeader.serviceResult == UA_STATUSCODE_GOOD;
        UA_CreateSubscriptionResponse_clear(&sub);
        // Every point of every relay, created a few hundred at a time.
        std::vector<std::string> ids;
        std::vector<void*> contexts;
        for (int l = 0; subscribed && l < kLines; ++l) {
            for (int r = 1; r <= kRelays; ++r) {
                for (const Point& p : kPoints) {
                    for (int n = 1; n <= p.count; ++n) {
                        ids.push_back(NodeText(l, r, p.kind, n));
                        contexts.push_back(p.answerTime ? &kAnswerTimed : nullptr);
                    }
                }
            }
        }
        for (size_t at = 0; at < ids.size() && !failed; at += 500) {
            const size_t n = std::min<size_t>(500, ids.size() - at);
            std::vector<UA_MonitoredItemCreateRequest> create(n);
            std::vector<UA_Client_DataChangeNotificationCallback> callbacks(n, &Watcher::OnChange);
            std::vector<UA_Client_DeleteMonitoredItemCallback> deletes(n, nullptr);
            for (size_t i = 0; i < n; ++i) {
                create[i] = UA_MonitoredItemCreateRequest_default(UA_NODEID_STRING(1, const_cast<char*>(ids[at + i].c_str())));
                create[i].requestedParameters.samplingInterval = 0;   // every change, as it is written
                create[i].requestedParameters.queueSize = 1;
            }
            UA_CreateMonitoredItemsRequest req;
            UA_CreateMonitoredItemsRequest_init(&req);
            req.subscriptionId = subId;
            req.timestampsToReturn = UA_TIMESTAMPSTORETURN_BOTH;
            req.itemsToCreate = create.data();
            req.itemsToCreateSize = n;
            UA_CreateMonitoredItemsResponse res = UA_Client_MonitoredItems_createDataChanges(
                client, req, contexts.data() + at, callbacks.data(), deletes.data());
            if (res.responseHeader.serviceResult != UA_STATUSCODE_GOOD) failed = true;
            for (size_t i = 0; i < res.resultsSize; ++i) {
                if (res.results[i].statusCode == UA_STATUSCODE_GOOD) ++items;
            }
            UA_CreateMonitoredItemsResponse_clear(&res);
        }
        if (!subscribed) failed = true;
        ready = true;
        while (!stop) UA_Client_run_iterate(client, 20);
        UA_Client_disconnect(client);
        UA_Client_delete(client);
    }
};

// Reads the first `kReadNodes` measurements again and again; the service times in ms.
std::vector<double> ReadLoop(const std::string& url, const std::atomic<bool>& stop) {
    std::vector<double> ms;
    UA_Client* client = Connect(url);
    if (!client) return ms;
    std::vector<std::string> ids;
    for (int r = 1; static_cast<int>(ids.size()) < kReadNodes; ++r) {
        for (int n = 1; n <= 8 && static_cast<int>(ids.size()) < kReadNodes; ++n) ids.push_back(NodeText(0, r, "YC", n));
    }
    std::vector<UA_ReadValueId> nodes(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        UA_ReadValueId_init(&nodes[i]);
        nodes[i].nodeId = UA_NODEID_STRING(1, const_cast<char*>(ids[i].c_str()));
        nodes[i].attributeId = UA_ATTRIBUTEID_VALUE;
    }
    auto next = Clock::now();
    while (!stop) {
        UA_ReadRequest req;
        UA_ReadRequest_init(&req);
        req.nodesToRead = nodes.data();
        req.nodesToReadSize = nodes.size();
        req.timestampsToReturn = UA_TIMESTAMPSTORETURN_BOTH;
        const auto t0 = Clock::now();
        UA_ReadResponse res = UA_Client_Service_read(client, req);
        const auto t1 = Clock::now();
        if (res.responseHeader.serviceResult == UA_STATUSCODE_GOOD && res.resultsSize == nodes.size()) {
            ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        }
        UA_ReadResponse_clear(&res);
        next += std::chrono::milliseconds(1000 / kPollHz);
        std::this_thread::sleep_until(next);
    }
    UA_Client_disconnect(client);
    UA_Client_delete(client);
    return ms;
}

#endif

}  // namespace

int main(int argc, char** argv) {
#if !VORLAN_OPCUA
    (void)argc;
    (void)argv;
    std::printf("vorlan-gateway was built without OPC UA (scripts/fetch-open62541.sh); nothing to measure\n");
    return 0;
#else
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    signal(SIGPIPE, SIG_IGN);
    char dirPattern[] = "/tmp/vorlan-opcua-bench-XXXXXX";
    const std::string dir = mkdtemp(dirPattern);

    std::vector<std::unique_ptr<vorlan_sim::Simulator>> sims;
    for (int l = 0; l < kLines; ++l) {
        vorlan_sim::SimConfig config;
        config.seed = 200 + static_cast<uint64_t>(l);
        config.line.paceBaud = kBaud;
        for (int a = 1; a <= kRelays; ++a) {
            vorlan_sim::RelayConfig r = vorlan_sim::DefaultRelay(static_cast<uint8_t>(a), static_cast<size_t>(a - 1));
            r.changeRate = 0.3;
            r.busyRate = 0;
            config.relays.push_back(r);
        }
        sims.push_back(std::make_unique<vorlan_sim::Simulator>(config));
        if (std::string e = sims.back()->Open(); !e.empty()) {
            std::fprintf(stderr, "simulator: %s\n", e.c_str());
            return 1;
        }
        sims.back()->Start();
    }

    const int modbusPort = FreePort(), opcuaPort = FreePort();
    std::ostringstream config;
    config << "name = \"bench\"\n[driver]\nlibrary = \"" << VORLAN_LIBRARY_PATH << "\"\n[modbus]\nport = " << modbusPort
           << "\nmax_clients = 100\n[opcua]\nanonymous = true\nport = " << opcuaPort << "\n";
    for (int l = 0; l < kLines; ++l) {
        config << "[[line]]\nunit_base = " << l * kRelays << "\n[line.channel]\nport = \"" << sims[l]->path()
               << "\"\nbaud = " << kBaud << "\nreply_timeout_ms = 1000\n";
        for (int a = 1; a <= kRelays; ++a) {
            config << "[[line.relay]]\naddress = " << a
                   << "\nitems = [\"YC1-YC8\", \"YX1-YX32\", \"YM1-YM4\", \"BWYX1-BWYX32\", \"BWYX10001-BWYX10032\"]\n";
        }
    }
    {
        std::ofstream out(dir + "/gateway.toml");
        out << config.str();
    }
    const pid_t gateway = Spawn(std::string(VORLAN_GATEWAY_PATH) + " -c " + dir + "/gateway.toml 2>" + dir + "/gateway.log");
    const std::string url = "opc.tcp://127.0.0.1:" + std::to_string(opcuaPort);

    std::printf("warming up: every relay sends its measurements...\n");
    std::fflush(stdout);
    sleep(2);
    for (int wait = 0; wait < 180 && UnitsServed(modbusPort, kLines * kRelays) < kLines * kRelays; ++wait) sleep(1);

    std::atomic<bool> stop{false};
    std::vector<std::unique_ptr<Watcher>> watchers;
    for (int c = 0; c < kUaClients; ++c) {
        watchers.push_back(std::make_unique<Watcher>());
        Watcher& w = *watchers.back();
        w.thread = std::thread([&w, &url, &stop] { w.Run(url, stop); });
    }
    const auto subscribing = Clock::now();
    for (auto& w : watchers) {
        while (!w->ready) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const double subscribeS = std::chrono::duration<double>(Clock::now() - subscribing).count();
    size_t items = 0, failedClients = 0;
    for (auto& w : watchers) {
        items += w->items;
        failedClients += w->failed ? 1 : 0;
    }
    std::printf("%d OPC UA clients subscribed to %zu items in %.1f s%s\n", kUaClients, items, subscribeS,
                failedClients ? " (some failed)" : "");
    std::fflush(stdout);
    // The first notifications are the values at subscription; count only later answers.
    sleep(1);
    const int64_t from = UA_DateTime_now();
    for (auto& w : watchers) w->from = from;

    std::vector<double> readMs;
    std::thread reader([&] { readMs = ReadLoop(url, stop); });
    ModbusLoad modbus(modbusPort, kLines * kRelays, kModbusClients, kPollHz);
    const double cpuBefore = ProcessCpu(gateway);
    const auto began = Clock::now();
    double rssMost = 0;
    for (int s = 0; s < seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        rssMost = std::max(rssMost, ProcessRssMib(gateway));
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - began).count();
    const double cpu = ProcessCpu(gateway) - cpuBefore;
    std::vector<double> answerMs;
    long modbusFailures = 0;
    modbus.Finish(answerMs, modbusFailures);
    stop = true;
    reader.join();
    std::vector<double> latency;
    long notifications = 0;
    for (auto& w : watchers) {
        w->thread.join();
        latency.insert(latency.end(), w->latencyMs.begin(), w->latencyMs.end());
        notifications += w->notifications;
    }
    Stop(gateway);
    for (auto& s : sims) s->Stop();

    const double target = kPublishMs + 10;
    std::printf("\n%d lines x %d relays at %d baud (paced), %d OPC UA clients x %zu items (publishing %.0f ms), "
                "%d Modbus clients at %d Hz, %.0f s measured\n",
                kLines, kRelays, kBaud, kUaClients, watchers.empty() ? 0 : watchers[0]->items, kPublishMs,
                kModbusClients, kPollHz, elapsed);
    std::printf("%-44s %12s   %s\n", "figure", "measured", "target");
    std::printf("%-44s %9.1f ms   (%zu measured; %ld notifications in all)\n", "answer to OPC UA notification, median",
                Percentile(latency, 0.5), latency.size(), notifications);
    std::printf("%-44s %9.1f ms   <= %.0f ms  %s\n", "answer to OPC UA notification, p99", Percentile(latency, 0.99),
                target, !latency.empty() && Percentile(latency, 0.99) <= target ? "met" : "NOT MET");
    std::printf("%-44s %9.3f ms   (%zu reads)\n", "read of 100 nodes, median", Percentile(readMs, 0.5), readMs.size());
    std::printf("%-44s %9.3f ms   < 2 ms  %s\n", "read of 100 nodes, p99", Percentile(readMs, 0.99),
                !readMs.empty() && Percentile(readMs, 0.99) < 2 ? "met" : "NOT MET");
    std::printf("%-44s %9.3f ms   < 2 ms  %s (%zu answers, %ld failed)\n", "Modbus answer, p99",
                Percentile(answerMs, 0.99), Percentile(answerMs, 0.99) < 2 ? "met" : "NOT MET", answerMs.size(),
                modbusFailures);
    std::printf("%-44s %9.1f %%    (CPU seconds per second of one core)\n", "gateway CPU", 100.0 * cpu / elapsed);
    std::printf("%-44s %9.1f MiB  (most seen while measuring)\n", "gateway resident memory", rssMost);
    return 0;
#endif
}
