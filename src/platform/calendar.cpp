#include "platform/calendar.h"

namespace vorlan {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

bool SystemTimeToFileTime(const SystemTime& t, uint64_t& out) {
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > 31 || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 ||
        t.second < 0 || t.second > 59 || t.milliseconds < 0 || t.milliseconds > 999) {
        return false;
    }
    const int64_t days = DaysFromCivil(t.year, t.month, t.day) +
                         static_cast<int64_t>(kFileTimeUnixEpochSeconds / 86400);
    const int64_t seconds = days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    out = static_cast<uint64_t>(seconds) * kFileTimeTicksPerSecond +
          static_cast<uint64_t>(t.milliseconds) * 10'000u;
    return true;
}

}  // namespace vorlan
