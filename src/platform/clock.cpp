// SPDX-License-Identifier: Apache-2.0
#include "platform/clock.h"

#include <ctime>

namespace vorlan {

uint32_t RealClock::TickMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                        static_cast<uint64_t>(ts.tv_nsec) / 1'000'000u;
    return static_cast<uint32_t>(ms);
}

void RealClock::SleepMs(uint32_t ms) {
    timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000L};
    while (nanosleep(&req, &req) != 0) {
    }
}

uint64_t RealClock::NowFileTime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<uint64_t>(ts.tv_sec) + kFileTimeUnixEpochSeconds) * kFileTimeTicksPerSecond +
           static_cast<uint64_t>(ts.tv_nsec) / 100u;
}

SystemTime RealClock::NowLocal() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    SystemTime t;
    LocalCalendar(ts.tv_sec, static_cast<int32_t>(ts.tv_nsec / 1'000'000L), t);
    return t;
}

}  // namespace vorlan
