#include "platform/local_zone.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace vorlan {

namespace {

constexpr int64_t kHour = 3600;
constexpr uint32_t kRereadMs = 1000;

// Local minus UTC at `utc` as localtime_r gives it (leap seconds included
// where the zone counts them); false when the library can't convert it.
bool OffsetAt(int64_t utc, int64_t& offset) {
    const time_t at = static_cast<time_t>(utc);
    tm local{};
    if (localtime_r(&at, &local) == nullptr) return false;
    offset = FieldSeconds(local.tm_year + 1900LL, local.tm_mon + 1LL, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec) -
             utc;
    return true;
}

}  // namespace

int64_t FieldSeconds(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                     int64_t second) {
    // Days from 1970-01-01 to the first of the month (proleptic Gregorian).
    const int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
    const int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468 + (day - 1);
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

void LocalZoneCache::Refresh(uint32_t tickMs) {
    const char* tz = std::getenv("TZ");
    const bool same = looked_ && (tz != nullptr) == tzSet_ &&
                      (tz == nullptr || std::strncmp(tz, tz_, kZoneNameSize) == 0);
    if (same && static_cast<uint32_t>(tickMs - rereadTick_) < kRereadMs) return;
    tzset();
    looked_ = true;
    tzSet_ = tz != nullptr;
    tz_[0] = '\0';
    if (tz != nullptr && std::strlen(tz) < kZoneNameSize) std::strcpy(tz_, tz);
    rereadTick_ = tickMs;
    spans_ = {};
    nextSpan_ = 0;
}

bool LocalZoneCache::SteadyOffset(int64_t local, int64_t margin, int64_t& offset) {
    if (Steady(local, margin, offset)) return true;
    return WorthLearning(local, margin) && Learn(local) && Steady(local, margin, offset);
}

bool LocalZoneCache::Steady(int64_t local, int64_t margin, int64_t& offset) const {
    for (const Span& span : spans_) {
        const int64_t utc = local - span.offset;
        if (utc - margin >= span.first && utc + margin <= span.last) {
            offset = span.offset;
            return true;
        }
    }
    return false;
}

// Unless a learned span already shows a change of offset within the margin,
// a span learned around `local` can tell more.
bool LocalZoneCache::WorthLearning(int64_t local, int64_t margin) const {
    for (const Span& span : spans_) {
        const int64_t utc = local - span.offset;
        if (utc < span.first || utc > span.last) continue;
        if ((utc - margin < span.first && span.changeBefore) || (utc + margin > span.last && span.changeAfter)) {
            return false;
        }
    }
    return true;
}

// Probes hour by hour either way from the instant `local` names (by the
// offset at `local` read as UTC, near enough) while the offset stays.
bool LocalZoneCache::Learn(int64_t local) {
    int64_t guess = 0;
    if (!OffsetAt(local, guess)) return false;
    const int64_t center = local - guess;
    int64_t offset = 0;
    if (!OffsetAt(center, offset)) return false;
    Span span;
    span.offset = offset;
    span.first = center;
    span.last = center;
    int64_t probe = 0;
    for (int64_t k = 1; k <= kReachHours; ++k) {
        if (!OffsetAt(center - k * kHour, probe) || probe != offset) {
            span.changeBefore = true;
            break;
        }
        span.first = center - k * kHour;
    }
    for (int64_t k = 1; k <= kReachHours; ++k) {
        if (!OffsetAt(center + k * kHour, probe) || probe != offset) {
            span.changeAfter = true;
            break;
        }
        span.last = center + k * kHour;
    }
    spans_[nextSpan_] = span;
    nextSpan_ = (nextSpan_ + 1) % kSpans;
    return true;
}

LocalZoneCache& ThreadLocalZone() {
    thread_local LocalZoneCache zone;
    return zone;
}

}  // namespace vorlan
