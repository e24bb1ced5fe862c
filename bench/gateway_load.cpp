// SPDX-License-Identifier: Apache-2.0
// vorlan-gateway under load: 4 lines of 32 simulated relays, 50 Modbus TCP
// clients each polling 10 times a second, and an MQTT subscriber on a
// mosquitto broker. Prints the Modbus answer time (median, 99th
// percentile), the gateway's CPU per second, and the time from a status
// change at a simulator to its MQTT event (median), beside the targets.

#include <modbus/modbus.h>
#include <mosquitto.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gateway_bench.h"
#include "simulator.h"

namespace {

using namespace vorlan_gateway_bench;

constexpr int kLines = 4;
constexpr int kRelays = 32;
constexpr int kClients = 50;
constexpr int kPollHz = 10;

// "2026-12-08T00:59:11.202Z" as seconds since 1970.
double IsoSeconds(const std::string& t) {
    tm c{};
    int ms = 0;
    if (std::sscanf(t.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &c.tm_year, &c.tm_mon, &c.tm_mday, &c.tm_hour, &c.tm_min,
                    &c.tm_sec, &ms) != 7) {
        return 0;
    }
    c.tm_year -= 1900;
    c.tm_mon -= 1;
    return static_cast<double>(timegm(&c)) + ms / 1000.0;
}

struct EventLatencies {
    std::mutex lock;
    std::vector<double> ms;
    long values = 0;
};

void OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto& out = *static_cast<EventLatencies*>(self);
    const double now = WallSeconds();
    const std::string topic = m->topic ? m->topic : "";
    std::lock_guard<std::mutex> hold(out.lock);
    if (topic.size() < 7 || topic.compare(topic.size() - 7, 7, "/events") != 0) {
        ++out.values;
        return;
    }
    const auto j = nlohmann::json::parse(std::string(static_cast<const char*>(m->payload), m->payloadlen), nullptr, false);
    if (j.is_discarded() || !j.contains("ts")) return;
    // The relay's clock runs at UTC+8 as the driver assumes; whole hours apart
    // are the clock's, the rest is the way from the relay to the broker.
    double d = now - IsoSeconds(j["ts"].get<std::string>());
    d -= 3600.0 * std::round(d / 3600.0);
    out.ms.push_back(d * 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    signal(SIGPIPE, SIG_IGN);
    char dirPattern[] = "/tmp/vorlan-gateway-bench-XXXXXX";
    const std::string dir = mkdtemp(dirPattern);

    std::vector<std::unique_ptr<vorlan_sim::Simulator>> sims;
    for (int l = 0; l < kLines; ++l) {
        vorlan_sim::SimConfig config;
        config.seed = 100 + static_cast<uint64_t>(l);
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

    const int mqttPort = FreePort(), modbusPort = FreePort();
    {
        std::ofstream conf(dir + "/mosquitto.conf");
        conf << "listener " << mqttPort << " 127.0.0.1\nallow_anonymous true\npersistence false\n";
    }
    const pid_t broker = Spawn("mosquitto -c " + dir + "/mosquitto.conf 2>" + dir + "/mosquitto.log");
    usleep(300000);

    std::ostringstream config;
    config << "name = \"bench\"\n[driver]\nlibrary = \"" << VORLAN_LIBRARY_PATH << "\"\n[modbus]\nport = " << modbusPort
           << "\nmax_clients = 100\n[mqtt]\nhost = \"127.0.0.1\"\nport = " << mqttPort << "\n";
    for (int l = 0; l < kLines; ++l) {
        config << "[[line]]\nunit_base = " << l * kRelays << "\n[line.channel]\nport = \"" << sims[l]->path()
               << "\"\nreply_timeout_ms = 1000\n";
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

    EventLatencies events;
    mosquitto_lib_init();
    mosquitto* sub = mosquitto_new("vorlan-bench-subscriber", true, &events);
    mosquitto_message_callback_set(sub, OnMessage);
    mosquitto_connect(sub, "127.0.0.1", mqttPort, 30);
    mosquitto_subscribe(sub, nullptr, "vorlan/bench/#", 1);
    mosquitto_loop_start(sub);

    // Every relay's measurements are served once it has sent them; 32 relays
    // on a line take a while.
    std::printf("warming up: every relay sends its measurements...\n");
    std::fflush(stdout);
    sleep(2);
    for (int wait = 0; wait < 120; ++wait) {
        modbus_t* probe = modbus_new_tcp("127.0.0.1", modbusPort);
        int answered = 0;
        if (modbus_connect(probe) == 0) {
            for (int unit = 1; unit <= kLines * kRelays; ++unit) {
                uint16_t r[16];
                modbus_set_slave(probe, unit);
                if (modbus_read_input_registers(probe, 0, 16, r) == 16) ++answered;
            }
        }
        modbus_close(probe);
        modbus_free(probe);
        if (answered == kLines * kRelays) break;
        sleep(1);
    }
    {
        std::lock_guard<std::mutex> hold(events.lock);
        events.ms.clear();
    }

    std::atomic<bool> stop{false};
    std::mutex resultsLock;
    std::vector<double> answerMs;
    long failures = 0;
    std::vector<std::thread> clients;
    const double cpuBefore = ProcessCpu(gateway);
    const auto began = Clock::now();
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            modbus_t* ctx = modbus_new_tcp("127.0.0.1", modbusPort);
            modbus_set_response_timeout(ctx, 2, 0);
            if (modbus_connect(ctx) != 0) return;
            std::vector<double> mine;
            long failed = 0;
            auto next = Clock::now();
            for (int i = 0; !stop; ++i) {
                const int unit = 1 + (c * 7 + i) % (kLines * kRelays);
                modbus_set_slave(ctx, unit);
                uint16_t regs[16];
                const auto t0 = Clock::now();
                const int n = modbus_read_input_registers(ctx, 0, 16, regs);
                const auto t1 = Clock::now();
                if (n == 16) mine.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
                else ++failed;
                next += std::chrono::milliseconds(1000 / kPollHz);
                std::this_thread::sleep_until(next);
            }
            modbus_close(ctx);
            modbus_free(ctx);
            std::lock_guard<std::mutex> hold(resultsLock);
            answerMs.insert(answerMs.end(), mine.begin(), mine.end());
            failures += failed;
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto& t : clients) t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - began).count();
    const double cpu = ProcessCpu(gateway) - cpuBefore;

    mosquitto_loop_stop(sub, true);
    mosquitto_destroy(sub);
    mosquitto_lib_cleanup();
    Stop(gateway);
    Stop(broker);
    for (auto& s : sims) s->Stop();

    std::vector<double> eventMs;
    long values = 0;
    {
        std::lock_guard<std::mutex> hold(events.lock);
        eventMs = events.ms;
        values = events.values;
    }
    // One exchange on these lines: the protocol's 150 + 250 ms pauses.
    constexpr double kExchangeMs = 400;
    std::printf("\n%d lines x %d relays, %d Modbus clients at %d Hz, %.0f s measured\n", kLines, kRelays, kClients,
                kPollHz, elapsed);
    std::printf("%-44s %12s   %s\n", "figure", "measured", "target");
    std::printf("%-44s %9.3f ms   < 2 ms at p99 (%zu answers, %ld failed)\n", "Modbus answer, median",
                Percentile(answerMs, 0.5), answerMs.size(), failures);
    std::printf("%-44s %9.3f ms   < 2 ms  %s\n", "Modbus answer, 99th percentile", Percentile(answerMs, 0.99),
                Percentile(answerMs, 0.99) < 2 ? "met" : "NOT MET");
    std::printf("%-44s %9.1f %%    (CPU seconds per second of one core)\n", "gateway CPU", 100.0 * cpu / elapsed);
    // The simulator answers delayMs after the request that found the change.
    const double answerDelayMs = vorlan_sim::SimConfig{}.faults.delayMs;
    const double fromAnswer = Percentile(eventMs, 0.5) - answerDelayMs;
    std::printf("%-44s %9.1f ms   (%zu events; %ld value messages)\n", "status change at the relay to MQTT, median",
                Percentile(eventMs, 0.5), eventMs.size(), values);
    std::printf("%-44s %9.1f ms   < one exchange (%.0f ms)  %s\n", "  of which after the relay's answer", fromAnswer,
                kExchangeMs, !eventMs.empty() && fromAnswer < kExchangeMs ? "met" : "NOT MET");
    std::printf("%-44s %9.1f ms\n", "status change at the relay to MQTT, p90", Percentile(eventMs, 0.9));
    return 0;
}
