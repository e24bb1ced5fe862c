#pragma once
// The zone the relays' clocks keep: a fixed offset from UTC, or a named zone
// read from the system's zone files (TZif). Conversions are arithmetic on the
// zone's own table; the C library's process-wide zone (TZ, tzset,
// localtime) is neither read nor changed, so the host's zone never moves a
// relay time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/calendar.h"

namespace vorlan {

class RelayZone {
public:
    // The relays' own zone when nothing else is set: UTC+8.
    static constexpr int32_t kDefaultOffset = 8 * 3600;
    // Offsets a zone file may give, as the file format bounds them.
    static constexpr int32_t kMaxOffset = 26 * 3600 - 1;
    // Zone files larger than any real one are refused unread.
    static constexpr size_t kMaxZoneFile = 64 * 1024;
    // A named zone's rule for the future is unrolled up to this year; later
    // times keep the offset it leaves.
    static constexpr int32_t kLastRuleYear = 2200;

    RelayZone() = default;  // UTC+8

    // A zone that is always `offsetSeconds` ahead of UTC (within kMaxOffset).
    static RelayZone Fixed(int32_t offsetSeconds);

    // "+08:00", "-05:30", "+0530", "+8": a fixed offset; otherwise a zone
    // name ("Europe/Berlin") read from ZoneDirectory(). False, with `why`,
    // for anything else; `out` is then left alone.
    static bool FromText(const std::string& text, RelayZone& out, std::string& why);

    // A zone from the bytes of a zone file (versions 1 to 4). Every count
    // and index is checked against the bytes; files with leap-second records
    // are refused.
    static bool FromZoneFile(const uint8_t* data, size_t size, RelayZone& out, std::string& why);

    // The offset (zone time minus UTC, seconds) at the UTC instant `utc`
    // (seconds since 1970).
    int32_t OffsetAt(int64_t utc) const;

    // Zone calendar seconds (seconds since 1970 of the zone's calendar
    // fields read as UTC) of an instant.
    int64_t ZoneSeconds(int64_t utc) const { return utc + OffsetAt(utc); }

    // The UTC instant of zone calendar seconds. A time the zone skips (clocks
    // put forward) takes the offset after the change; a time it repeats
    // (clocks put back) takes the offset before the change, its first pass.
    int64_t UtcSeconds(int64_t zoneSeconds) const;

    // The zone's calendar fields, day of week included, of a FILETIME.
    SystemTime FieldsAt(uint64_t fileTime) const;

    // The FILETIME of zone calendar fields; false when they name no time
    // from 1970 (UTC) on that a FILETIME holds, or the year is before 1970 or
    // the milliseconds outside 0..999. Fields past their ranges count on as
    // the calendar does (day 31 of April is 1 May).
    bool FileTimeOf(const SystemTime& t, uint64_t& out) const;

    bool IsFixed() const { return table_ == nullptr; }

private:
    struct Table {
        std::vector<int64_t> at;       // UTC seconds of each change, ascending
        std::vector<int32_t> offset;   // the offset from at[i] on
        int32_t before = 0;            // the offset before the first change
    };
    int32_t PeriodOffset(ptrdiff_t period) const;

    int32_t fixed_ = kDefaultOffset;
    std::shared_ptr<const Table> table_;  // null for a fixed offset
};

// Where zone files are read from: $TZDIR when it is an absolute path, else
// /usr/share/zoneinfo.
std::string ZoneDirectory();

}  // namespace vorlan
