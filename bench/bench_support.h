// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the whole-process benchmarks share: a driver on a serial path with
// the real clock, host packets, thread CPU time, resident memory.

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "component/relay_driver.h"
#include "vorlan/driver.h"

namespace vorlan_bench {

// A host packet of one item.
struct SendPacket {
    explicit SendPacket(int16_t deviceIndex = 0) {
        std::memset(&packet, 0, sizeof packet);
        std::memset(&item, 0, sizeof item);
        item.address = 1;
        node = HostItemNode{nullptr, nullptr, &item};
        packet.deviceIndex = deviceIndex;
        packet.registerIndex = VORLAN_REG_SEND;
        packet.items.first = &node;
        packet.items.last = &node;
        packet.items.count = 1;
    }
    HostPacket packet;
    HostItem item;
    HostItemNode node;
};

// A driver with the real clock on `path`, relays `addresses` registered.
inline std::unique_ptr<vorlan::CRelayDriver> OpenDriver(const std::string& path,
                                                        const std::vector<uint8_t>& addresses) {
    auto driver = std::make_unique<vorlan::CRelayDriver>();
    ChannelConfig channel;
    std::memset(&channel, 0, sizeof channel);
    std::snprintf(channel.portName, sizeof channel.portName, "%s", path.c_str());
    channel.baudRate = 9600;
    channel.byteSize = 8;
    channel.stopBits = 1;
    channel.replyTimeout = 1000;
    if (driver->OpenChannelLocked(&channel) != 1) return nullptr;
    for (uint8_t a : addresses) {
        const std::string text = std::to_string(a);
        driver->AddDevice(text.c_str(), nullptr);
    }
    return driver;
}

inline double MonotonicMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}
inline double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}
// Resident memory of the process in KiB.
inline long ResidentKiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline const char* Verdict(bool met) { return met ? "met" : "NOT MET"; }

}  // namespace vorlan_bench
