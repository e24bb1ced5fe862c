#include "relay_points.h"

#include <sys/time.h>

#include <climits>
#include <cstdio>
#include <ctime>

namespace vorlan_gateway {

namespace {

constexpr int64_t kUnixEpoch = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601

}  // namespace

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
    const time_t seconds = static_cast<time_t>(unix100ns / 10000000);
    const int ms = static_cast<int>((unix100ns / 10000) % 1000);
    tm utc{};
    if (!gmtime_r(&seconds, &utc)) return "1970-01-01T00:00:00.000Z";
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms);
    return text;
}

}  // namespace vorlan_gateway
