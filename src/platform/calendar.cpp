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

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0); }

}  // namespace

int64_t FieldSeconds(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                     int64_t second) {
    const int64_t yearsOn = FloorDiv(month - 1, 12);
    const int64_t days = DaysFromCivil(year + yearsOn, month - 12 * yearsOn, 1) + (day - 1);
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

SystemTime CalendarFields(int64_t seconds, int32_t ms) {
    const int64_t days = FloorDiv(seconds, 86400);
    const int64_t inDay = seconds - days * 86400;
    // Civil date of a day count (proleptic Gregorian), the inverse of DaysFromCivil.
    const int64_t z = days + 719468;
    const int64_t era = FloorDiv(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    SystemTime t;
    t.year = static_cast<int32_t>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    t.month = static_cast<int32_t>(month);
    t.day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    t.dayOfWeek = static_cast<int32_t>(days - 7 * FloorDiv(days + 4, 7) + 4);  // 1970-01-01 was a Thursday
    t.hour = static_cast<int32_t>(inDay / 3600);
    t.minute = static_cast<int32_t>(inDay / 60 % 60);
    t.second = static_cast<int32_t>(inDay % 60);
    t.milliseconds = ms;
    return t;
}

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

bool LocalCalendar(time_t seconds, int32_t ms, SystemTime& out) {
    tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return false;
    out.year = local.tm_year + 1900;
    out.month = local.tm_mon + 1;
    out.dayOfWeek = local.tm_wday;
    out.day = local.tm_mday;
    out.hour = local.tm_hour;
    out.minute = local.tm_min;
    out.second = local.tm_sec;
    out.milliseconds = ms;
    return true;
}

bool LocalCalendarSeconds(const SystemTime& t, time_t& out) {
    tm local{};
    local.tm_year = t.year - 1900;
    local.tm_mon = t.month - 1;
    local.tm_mday = t.day;
    local.tm_hour = t.hour;
    local.tm_min = t.minute;
    local.tm_sec = t.second;
    local.tm_isdst = -1;
    local.tm_wday = -1;  // mktime sets it on success; -1 (a valid result) can't mean failure
    const time_t seconds = mktime(&local);
    if (local.tm_wday < 0) return false;
    out = seconds;
    return true;
}

}  // namespace vorlan
