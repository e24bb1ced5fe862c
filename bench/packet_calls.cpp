// SPDX-License-Identifier: Apache-2.0
// Packet calls through CRelayDriver::ProcessPacket: time per item of reads
// served from memory, beside a bare loop that writes the same value, quality
// and timestamp fields into the same host items, and heap allocations per
// steady-state packet call.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "counting_allocator.h"
#include "component/relay_driver.h"
#include "memory_port.h"
#include "model/frame.h"

namespace {


// Time that passes only when slept: the exchange's pauses cost nothing.
class InstantClock final : public vorlan::Clock {
public:
    uint32_t TickMs() override { return tick_; }
    void SleepMs(uint32_t ms) override { tick_ += ms; }
    uint64_t NowFileTime() override { return 132'000'000'000'000'000ULL; }
    vorlan::SystemTime NowLocal() override { return {2003, 12, 4, 25, 23, 59, 5, 0}; }

private:
    uint32_t tick_ = 1000;
};

// The answer frame of `data` with its CRC.
std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame) {
    const uint16_t crc = vorlan::ComputeCrc(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

// A host packet with `count` items at addresses 1..count.
class Packet {
public:
    Packet(int16_t deviceIndex, int16_t registerIndex, uint16_t count)
        : items_(count), nodes_(count) {
        std::memset(&packet, 0, sizeof packet);
        packet.deviceIndex = deviceIndex;
        packet.registerIndex = registerIndex;
        for (uint16_t i = 0; i < count; ++i) {
            std::memset(&items_[i], 0, sizeof items_[i]);
            items_[i].address = static_cast<uint16_t>(i + 1);
            nodes_[i].item = &items_[i];
            nodes_[i].next = i + 1 < count ? &nodes_[i + 1] : nullptr;
            nodes_[i].prev = i > 0 ? &nodes_[i - 1] : nullptr;
        }
        packet.items.first = count > 0 ? &nodes_[0] : nullptr;
        packet.items.last = count > 0 ? &nodes_[count - 1u] : nullptr;
        packet.items.count = count;
    }
    HostPacket packet;
    HostItem& item(size_t i) { return items_[i]; }

private:
    std::vector<HostItem> items_;
    std::vector<HostItemNode> nodes_;
};

std::unique_ptr<vorlan::CRelayDriver> MakeDriver() {
    auto driver = std::make_unique<vorlan::CRelayDriver>(std::make_unique<InstantClock>());
    auto port = std::make_unique<vorlan_test::MemoryPort>();
    port->AnswerFor(1, WithCrc({0x01, 0x06, 0x04, 0x01, 0x00, 0x10, 0x27}));
    port->AnswerFor(2, WithCrc({0x02, 0x06, 0x04, 0x02, 0x03, 0x00, 0x81}));
    driver->SetPort(std::move(port));
    int32_t address = 0;
    driver->AddDevice("1", &address);
    driver->AddDevice("2", &address);
    return driver;
}

void ReadItems(benchmark::State& state, int16_t registerIndex, uint16_t count) {
    auto driver = MakeDriver();
    Packet packet(0, registerIndex, count);
    driver->ProcessPacket(&packet.packet, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(driver->ProcessPacket(&packet.packet, 0));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
    state.counters["s_per_item"] = benchmark::Counter(
        count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ReadYC64(benchmark::State& state) { ReadItems(state, VORLAN_REG_YC, 64); }
void BM_ReadYX512(benchmark::State& state) { ReadItems(state, VORLAN_REG_YX, 512); }
BENCHMARK(BM_ReadYC64);
BENCHMARK(BM_ReadYX512);

// The peer: the least any read can do, writing value, quality and timestamp
// into the same host items through the same linked list.
template <typename Value>
void BareLoop(benchmark::State& state, uint16_t count, Value value) {
    Packet packet(0, VORLAN_REG_YC, count);
    InstantClock clock;
    for (auto _ : state) {
        const uint64_t now = clock.NowFileTime();
        for (const HostItemNode* node = packet.packet.items.first; node != nullptr; node = node->next) {
            HostItem& item = *node->item;
            std::memcpy(item.value, &value, sizeof value);
            item.quality = 192;
            item.timestamp.lowDateTime = static_cast<uint32_t>(now);
            item.timestamp.highDateTime = static_cast<uint32_t>(now >> 32);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
}
void BM_BareYC64(benchmark::State& state) { BareLoop(state, 64, 1.5f); }
void BM_BareYX512(benchmark::State& state) { BareLoop(state, 512, int32_t{1}); }
BENCHMARK(BM_BareYC64);
BENCHMARK(BM_BareYX512);

// Relays whose BWYX packets one timed stretch of the delivery benchmark and
// its peer go through: the two steady-clock reads around it spread thin.
constexpr int kDeliveryRelays = 8;

// The delivery's peer, timed as the delivery is: the bare loop over the
// same number of 100-item packets.
void BM_BareBWYX100(benchmark::State& state) {
    std::vector<std::unique_ptr<Packet>> packets;
    for (int r = 0; r < kDeliveryRelays; ++r) packets.push_back(std::make_unique<Packet>(0, VORLAN_REG_YC, 100));
    InstantClock clock;
    const int32_t value = 1;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (auto& packet : packets) {
            const uint64_t now = clock.NowFileTime();
            for (const HostItemNode* node = packet->packet.items.first; node != nullptr; node = node->next) {
                HostItem& item = *node->item;
                std::memcpy(item.value, &value, sizeof value);
                item.quality = 192;
                item.timestamp.lowDateTime = static_cast<uint32_t>(now);
                item.timestamp.highDateTime = static_cast<uint32_t>(now >> 32);
            }
            benchmark::ClobberMemory();
        }
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kDeliveryRelays * 100);
}
BENCHMARK(BM_BareBWYX100)->UseManualTime();

// BWYX reads that deliver 100 queued changes each to 100 items, one read
// for each of kDeliveryRelays relays; the queues are refilled between
// stretches. Only the packet calls are timed, by the steady clock read on
// either side of them (manual time): pausing the benchmark's own timer costs
// more than a call and would have to be estimated and taken off.
void BM_DeliverBWYX100(benchmark::State& state) {
    constexpr uint16_t kChanges = 100;
    auto driver = MakeDriver();
    int32_t address = 0;
    for (int r = 2; r < kDeliveryRelays; ++r) driver->AddDevice(std::to_string(r + 1).c_str(), &address);
    std::vector<std::unique_ptr<Packet>> packets;
    for (int r = 0; r < kDeliveryRelays; ++r) {
        packets.push_back(std::make_unique<Packet>(static_cast<int16_t>(r), VORLAN_REG_BWYX, kChanges));
    }
    vorlan::StatusChange change;
    change.year = 2004;
    change.month = 3;
    change.day = 1;
    change.hour = 12;
    for (auto _ : state) {
        for (int r = 0; r < kDeliveryRelays; ++r) {
            vorlan::DeviceRecord& relay = driver->State().devices[static_cast<size_t>(r)];
            for (uint16_t i = 0; i < kChanges; ++i) {
                change.key = i;  // item address i + 1 asks for input i
                relay.points.changeQueue.Append(change);
            }
            relay.host.bwyxPhase = 0;
        }
        const auto start = std::chrono::steady_clock::now();
        for (auto& packet : packets) benchmark::DoNotOptimize(driver->ProcessPacket(&packet->packet, 0));
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kDeliveryRelays * kChanges);
}
BENCHMARK(BM_DeliverBWYX100)->UseManualTime();

// One request and its answer, with the exchange's pauses costing nothing.
void BM_SendWithAnswer(benchmark::State& state) {
    auto driver = MakeDriver();
    Packet send(0, VORLAN_REG_SEND, 1);
    for (auto _ : state) benchmark::DoNotOptimize(driver->ProcessPacket(&send.packet, 0));
}
BENCHMARK(BM_SendWithAnswer);

// Heap allocations per call, after a few calls of warm-up.
void PrintAllocations() {
    auto driver = MakeDriver();
    Packet send(0, VORLAN_REG_SEND, 1);
    Packet yc(0, VORLAN_REG_YC, 64);
    Packet yx(1, VORLAN_REG_YX, 512);
    Packet ym(0, VORLAN_REG_YM, 20);
    struct Row {
        const char* name;
        Packet* packet;
    } rows[] = {{"Send with answer", &send}, {"YC read, 64 items", &yc},
                {"YX read, 512 items", &yx}, {"YM read, 20 items", &ym}};
    for (int warm = 0; warm < 4; ++warm) {
        for (Row& row : rows) driver->ProcessPacket(&row.packet->packet, 0);
    }
    constexpr int kCalls = 1000;
    std::printf("\nHeap allocations per steady-state packet call (%d calls each):\n", kCalls);
    for (Row& row : rows) {
        const long before = vorlan_test::AllocationCount();
        for (int i = 0; i < kCalls; ++i) driver->ProcessPacket(&row.packet->packet, 0);
        const double perCall = static_cast<double>(vorlan_test::AllocationCount() - before) / kCalls;
        std::printf("  %-20s %.3f   (target 0)%s\n", row.name, perCall, perCall == 0 ? "" : "   NOT MET");
    }
}

// Keeps each benchmark's time per item for the ratios.
class FigureReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto items = run.counters.find("items_per_second");
            if (items != run.counters.end() && items->second.value > 0) {
                nsPerItem[run.benchmark_name()] = 1e9 / items->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> nsPerItem;
};

void PrintRatios(const FigureReporter& reporter) {
    struct Pair {
        const char* what;
        const char* driver;
        const char* bare;
    } pairs[] = {{"YC read, 64 items", "BM_ReadYC64", "BM_BareYC64"},
                 {"YX read, 512 items", "BM_ReadYX512", "BM_BareYX512"},
                 {"BWYX, 100 changes", "BM_DeliverBWYX100/manual_time", "BM_BareBWYX100/manual_time"}};
    std::printf("\nMemory-served packet calls, time per item against a bare loop (target <= 3x):\n");
    for (const Pair& p : pairs) {
        const auto d = reporter.nsPerItem.find(p.driver);
        const auto b = reporter.nsPerItem.find(p.bare);
        if (d == reporter.nsPerItem.end() || b == reporter.nsPerItem.end()) continue;
        const double perItem = d->second;
        const double ratio = perItem / b->second;
        std::printf("  %-20s %8.2f ns/item   bare %6.2f ns/item   ratio %5.2fx%s\n", p.what, perItem,
                    b->second, ratio, ratio <= 3.0 ? "" : "   NOT MET");
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintRatios(reporter);
    PrintAllocations();
    return 0;
}
