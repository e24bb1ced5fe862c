#include "points/change_delivery.h"

#include <ctime>

#include "points/host_items.h"

namespace vorlan {

namespace {

// Relay clocks run at UTC+8; their times are shifted back by this much.
constexpr time_t kRelayZoneOffsetSeconds = 8 * 3600;
// The calendar conversion counts from 1970; an earlier date comes from a relay
// whose clock was never set. The upper bound is the FILETIME calendar's.
constexpr int32_t kFirstYear = 1970;
constexpr int32_t kLastYear = 30827;

// The local calendar fields of `t` as seconds since 1970, less eight hours.
// False when the calendar can't represent the date.
bool ShiftedSeconds(const SystemTime& t, time_t& out) {
    if (t.year < kFirstYear || t.year > kLastYear) return false;
    time_t seconds = 0;
    if (!LocalCalendarSeconds(t, seconds) || seconds < kRelayZoneOffsetSeconds) return false;
    out = seconds - kRelayZoneOffsetSeconds;
    return true;
}

// Stores the local calendar fields of `seconds`; milliseconds and day of week stay.
bool StoreLocalFields(time_t seconds, SystemTime& t) {
    SystemTime local;
    if (!LocalCalendar(seconds, t.milliseconds, local)) return false;
    local.dayOfWeek = t.dayOfWeek;
    t = local;
    return true;
}

bool ConvertInPlace(SystemTime& t) {
    time_t seconds = 0;
    return ShiftedSeconds(t, seconds) && StoreLocalFields(seconds, t);
}

// The FILETIME of a relay-local calendar time; the current time when the
// date can't be represented.
uint64_t RelayTimeToFileTime(SystemTime t, Clock& clock) {
    uint64_t fileTime = 0;
    if (LocalToUtc(&t, clock) == 1 && SystemTimeToFileTime(t, fileTime)) return fileTime;
    SystemTime now = clock.NowLocal();
    if (LocalToUtc(&now, clock) == 1 && SystemTimeToFileTime(now, fileTime)) return fileTime;
    return clock.NowFileTime();
}

bool AnyItemAsksFor(HostPacket* packet, int32_t key) {
    bool found = false;
    ForEachItem(packet, [&](HostItem& item) {
        if (static_cast<int32_t>(item.address) - 1 == key) found = true;
    });
    return found;
}

}  // namespace

int32_t LocalToUtc(SystemTime* t, Clock& clock) {
    if (t == nullptr) return 0;
    if (ConvertInPlace(*t)) return 1;
    // Unrepresentable: the current local time takes its place.
    SystemTime now = clock.NowLocal();
    if (!ConvertInPlace(now)) now = clock.NowLocal();
    t->year = now.year;
    t->month = now.month;
    t->day = now.day;
    t->hour = now.hour;
    t->minute = now.minute;
    t->second = now.second;
    return 1;
}

int32_t DeliverChanges(DeviceRecord& relay, HostPacket* packet, Clock& clock) {
    if (packet == nullptr) return 1;
    ChangeQueue& queue = relay.changeQueue;

    // Records that no item of this packet asks for are dropped.
    for (size_t i = 0; i < queue.Count();) {
        if (AnyItemAsksFor(packet, queue.KeyAt(i))) {
            ++i;
        } else {
            queue.RemoveAt(i);
        }
    }

    ForEachItem(packet, [&](HostItem& item) {
        if (queue.Count() == 0) {
            SetLong(item, 0);
            Stamp(item, RelayTimeToFileTime(clock.NowLocal(), clock));
            item.quality = kQualityGood;
            return;
        }
        StatusChange change;
        if (queue.Take(static_cast<int32_t>(item.address) - 1, change) != 1) return;
        SystemTime when;
        when.year = change.year;
        when.month = change.month;
        when.dayOfWeek = 0;
        when.day = change.day;
        when.hour = change.hour;
        when.minute = change.minute;
        when.second = change.second;
        when.milliseconds = change.millisecond;
        SetLong(item, 1);
        Stamp(item, RelayTimeToFileTime(when, clock));
        item.quality = kQualityGood;
    });
    return 1;
}

}  // namespace vorlan
