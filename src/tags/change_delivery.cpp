#include "tags/change_delivery.h"

#include <ctime>

#include "tags/host_items.h"

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

// The keys a packet's items ask for (item address - 1), looked up in O(1).
class RequestedKeys {
public:
    explicit RequestedKeys(HostPacket* packet) {
        ForEachItem(packet, [this](HostItem& item) {
            const int32_t key = static_cast<int32_t>(item.address) - 1;
            if (key >= 0 && key < kKeys) bits_[key / 64] |= uint64_t{1} << (key % 64);
        });
    }
    bool Has(int32_t key) const {
        return key >= 0 && key < kKeys && (bits_[key / 64] >> (key % 64) & 1u) != 0;
    }

private:
    static constexpr int32_t kKeys = 20000;  // the BWYX address range
    uint64_t bits_[(kKeys + 63) / 64] = {};
};

// The stamps of one delivery. The changes of one report share their time, so
// each distinct relay time (and the current time) is converted once.
class DeliveryStamps {
public:
    explicit DeliveryStamps(Clock& clock) : clock_(clock) {}

    uint64_t Of(const StatusChange& c) {
        const SystemTime when = TimeOf(c);
        if (!haveLast_ || !SameFields(when, last_)) {
            last_ = when;
            lastStamp_ = RelayTimeToFileTime(when, clock_);
            haveLast_ = true;
        }
        return lastStamp_;
    }
    uint64_t Now() {
        if (!haveNow_) {
            now_ = RelayTimeToFileTime(clock_.NowLocal(), clock_);
            haveNow_ = true;
        }
        return now_;
    }

private:
    static bool SameFields(const SystemTime& a, const SystemTime& b) {
        return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
               a.minute == b.minute && a.second == b.second && a.milliseconds == b.milliseconds;
    }

    Clock& clock_;
    bool haveLast_ = false;
    SystemTime last_;
    uint64_t lastStamp_ = 0;
    bool haveNow_ = false;
    uint64_t now_ = 0;
};

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
    ChangeQueue& queue = relay.points.changeQueue;

    // Records that no item of this packet asks for are dropped.
    const RequestedKeys asked(packet);
    queue.KeepIf([&asked](const StatusChange& c) { return asked.Has(c.key); });

    DeliveryStamps stamps(clock);
    ForEachItem(packet, [&](HostItem& item) {
        if (queue.Count() == 0) {
            SetLong(item, 0);
            Stamp(item, stamps.Now());
            item.quality = kQualityGood;
            return;
        }
        StatusChange change;
        if (queue.Take(static_cast<int32_t>(item.address) - 1, change) != 1) return;
        SetLong(item, 1);
        Stamp(item, stamps.Of(change));
        item.quality = kQualityGood;
    });
    return 1;
}

}  // namespace vorlan
