#pragma once
// The local zone as the C library sees it, asked once and then applied with
// arithmetic. The library's calendar calls look the zone up again on every
// call (mktime checks TZ and /etc/localtime each time); this keeps spans of
// time over which local time is UTC plus one constant offset, learned from
// localtime_r, so a conversion inside one needs no library call at all.
// Conversions near a change of offset are for the caller to leave to the
// library.

#include <array>
#include <cstddef>
#include <cstdint>

namespace vorlan {

// Seconds since 1970 of calendar fields read as UTC. A day past the month's
// end counts on into the next month, as mktime counts it.
int64_t FieldSeconds(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                     int64_t second);

class LocalZoneCache {
public:
    // Hour steps either way that a span is learned over. Between two probes
    // an hour apart that agree the offset is taken as unchanged: no zone
    // changes its offset and back within the hour.
    static constexpr int64_t kReachHours = 5 * 24;

    // Once per use: has the C library reread the zone (tzset) when TZ is not
    // what it was at the last look, or when `tickMs` is a second or more past
    // the last reread (a replaced /etc/localtime shows within a second). A
    // reread forgets the spans learned.
    void Refresh(uint32_t tickMs);

    // The offset (local minus UTC, in seconds) of the local calendar time
    // `local` (seconds since 1970 of its fields), when that one offset holds
    // for every instant within `margin` seconds of the instant it names. A
    // span is learned around `local` when none known answers and none shows
    // a change within the margin. False when the offset changes within the
    // margin, or the library can't say.
    bool SteadyOffset(int64_t local, int64_t margin, int64_t& offset);

private:
    struct Span {
        int64_t first = 0;  // UTC seconds, both ends included
        int64_t last = -1;
        int64_t offset = 0;
        bool changeBefore = false;  // the probe before `first` found another offset
        bool changeAfter = false;   // the probe after `last` did
    };
    bool Steady(int64_t local, int64_t margin, int64_t& offset) const;
    bool WorthLearning(int64_t local, int64_t margin) const;
    bool Learn(int64_t local);

    static constexpr size_t kSpans = 4;
    std::array<Span, kSpans> spans_{};
    size_t nextSpan_ = 0;

    static constexpr size_t kZoneNameSize = 128;
    bool looked_ = false;
    bool tzSet_ = false;
    char tz_[kZoneNameSize] = {};  // TZ at the last look (a longer one never matches)
    uint32_t rereadTick_ = 0;
};

// The calling thread's cache: each polling thread keeps its own.
LocalZoneCache& ThreadLocalZone();

}  // namespace vorlan
