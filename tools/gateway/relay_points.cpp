// SPDX-License-Identifier: Apache-2.0
#include "relay_points.h"

#include <sys/time.h>

#include <climits>
#include <cstdio>

namespace vorlan_gateway {

namespace {

constexpr int64_t kUnixEpoch = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601

}  // namespace

RelayPoints::RelayPoints() {
    for (int16_t& q : ycQuality) q = VORLAN_QUALITY_WAITING;
    for (int16_t& q : ymQuality) q = VORLAN_QUALITY_WAITING;
    for (int16_t& q : yxQuality) q = VORLAN_QUALITY_WAITING;
}

const char* RelayStateName(RelayState s) {
    switch (s) {
        case RelayState::Ok: return "ok";
        case RelayState::NoAnswer: return "no-answer";
        case RelayState::Stale: return "stale";
        case RelayState::Backoff: return "backoff";
    }
    return "no-answer";
}

uint32_t SecondsSinceAnswer(const RelayHealth& h, int64_t now100ns) {
    if (h.lastAnswer <= 0) return UINT32_MAX;
    const int64_t s = (now100ns - h.lastAnswer) / 10000000;
    if (s < 0) return 0;
    return s >= UINT32_MAX ? UINT32_MAX - 1 : static_cast<uint32_t>(s);
}

int64_t NowFileTime() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return kUnixEpoch + static_cast<int64_t>(tv.tv_sec) * 10000000 + static_cast<int64_t>(tv.tv_usec) * 10;
}

std::string IsoUtc(int64_t fileTime) {
    if (fileTime <= kUnixEpoch) fileTime = kUnixEpoch;
    const int64_t unix100ns = fileTime - kUnixEpoch;
    const int64_t seconds = unix100ns / 10000000;
    const int ms = static_cast<int>((unix100ns / 10000) % 1000);
    // The calendar by arithmetic (days since 1970 to year, month, day), not
    // the C library's, whose time-zone state other threads of the driver use.
    int64_t z = seconds / 86400 + 719468;
    const int64_t era = z / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    const int64_t s = seconds % 86400;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day,
                  static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60), static_cast<int>(s % 60), ms);
    return text;
}

std::string IsoUtcNow() { return IsoUtc(NowFileTime()); }

}  // namespace vorlan_gateway
