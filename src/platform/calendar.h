#pragma once
// Calendar time in the fields the host's platform uses (year, month, day of
// week, day, hour, minute, second, milliseconds) and its conversion to a
// FILETIME value (100 ns intervals since 1601-01-01).

#include <cstdint>
#include <ctime>

namespace vorlan {

struct SystemTime {
    int32_t year = 0;
    int32_t month = 0;
    int32_t dayOfWeek = 0;
    int32_t day = 0;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    int32_t milliseconds = 0;
};

constexpr uint64_t kFileTimeTicksPerSecond = 10'000'000;
// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kFileTimeUnixEpochSeconds = 11'644'473'600ULL;

// Treats the fields as UTC. Returns false (and leaves `out`) for fields outside
// the calendar (month 1..12, day 1..31, hour < 24, minute < 60, second < 60,
// ms < 1000, year 1601..30827).
bool SystemTimeToFileTime(const SystemTime& t, uint64_t& out);

// Seconds since 1970 of calendar fields read as UTC. Fields past their range
// count on as the calendar does: month 13 is January of the next year, day 32
// of January is the first of February, hour 24 the next day.
int64_t FieldSeconds(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                     int64_t second);

// The calendar fields (day of week included) of `seconds` since 1970 read
// as UTC, with `ms`.
SystemTime CalendarFields(int64_t seconds, int32_t ms);

// The local calendar fields of `seconds` since 1970 (localtime_r), with `ms`.
// False when the C library can't convert them.
bool LocalCalendar(time_t seconds, int32_t ms, SystemTime& out);

// Seconds since 1970 of local calendar fields (mktime, which decides whether
// daylight-saving time applies). False when the calendar can't represent them.
bool LocalCalendarSeconds(const SystemTime& t, time_t& out);

}  // namespace vorlan
