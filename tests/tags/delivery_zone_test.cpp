// Delivered change times in the relays' zone, whatever zone the host runs
// in: UTC is the relay time less the zone's offset, items with no change are
// stamped with UTC now, and a host in Shanghai gets the stamps the C
// library's conversion (mktime, less eight hours, localtime_r) gave before.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "fake_clock.h"
#include "model/change_queue.h"
#include "platform/relay_zone.h"
#include "tags/change_delivery.h"
#include "test_packet.h"

namespace {

using vorlan::StatusChange;
using vorlan::SystemTime;

uint64_t FileTimeOf(const SystemTime& utc) {
    uint64_t ft = 0;
    EXPECT_TRUE(vorlan::SystemTimeToFileTime(utc, ft));
    return ft;
}

class DeliveryZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TZ");
        hadTz_ = old != nullptr;
        if (hadTz_) oldTz_ = old;
        clock.SetFileTime(FileTimeOf(SystemTime{2004, 3, 0, 28, 9, 15, 0, 500}));
    }
    void TearDown() override {
        if (hadTz_) {
            setenv("TZ", oldTz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void UseHostZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }

    // The stamps a delivery gives a change at relay time `t` (item 0) and an
    // item with no change (item 1).
    std::pair<uint64_t, uint64_t> Delivered(const SystemTime& t) {
        StatusChange c;
        c.key = 4;
        vorlan::SetTime(c, t);
        relay.points.changeQueue.Append(c);
        vorlan_test::TestPacket p(0, 12, 0, {5, 6});
        vorlan::DeliverChanges(relay, &p.packet, clock, zone);
        EXPECT_EQ(p.Long(0), 1);
        EXPECT_EQ(p.Long(1), 0);
        return {p.Stamp(0), p.Stamp(1)};
    }
    // What the delivery gave before, through the C library's local zone.
    static bool FormerStamp(SystemTime t, uint64_t& stamp) {
        time_t seconds = 0;
        if (t.year < 1970 || !vorlan::LocalCalendarSeconds(t, seconds) || seconds < 8 * 3600) return false;
        SystemTime shifted;
        if (!vorlan::LocalCalendar(seconds - 8 * 3600, t.milliseconds, shifted)) return false;
        return vorlan::SystemTimeToFileTime(shifted, stamp);
    }

    vorlan::DeviceRecord relay;
    vorlan_test::FakeClock clock;
    vorlan::RelayZone zone;  // UTC+8

private:
    bool hadTz_ = false;
    std::string oldTz_;
};

TEST_F(DeliveryZoneTest, RelayTimesLessEightHoursAndUtcNowOnAnyHost) {
    for (const char* host : {"UTC", "Asia/Shanghai", "America/New_York", "Europe/Berlin"}) {
        UseHostZone(host);
        // Five in the morning after Berlin's spring change: no host zone's
        // change moves it.
        const auto [change, none] = Delivered(SystemTime{2004, 3, 0, 28, 5, 0, 0, 125});
        EXPECT_EQ(change, FileTimeOf(SystemTime{2004, 3, 0, 27, 21, 0, 0, 125})) << host;
        EXPECT_EQ(none, clock.NowFileTime()) << host;
    }
}

TEST_F(DeliveryZoneTest, AHostInShanghaiGetsTheStampsItGotBefore) {
    UseHostZone("Asia/Shanghai");
    const int64_t from = vorlan::FieldSeconds(1992, 1, 1, 0, 0, 0);
    const int64_t to = vorlan::FieldSeconds(2037, 12, 31, 0, 0, 0);
    for (int64_t at = from; at <= to; at += 86400 + 7 * 3600 + 13 * 60 + 7) {
        const SystemTime t = vorlan::CalendarFields(at, static_cast<int32_t>(at % 1000));
        uint64_t former = 0;
        ASSERT_TRUE(FormerStamp(t, former));
        ASSERT_EQ(Delivered(t).first, former) << t.year << "-" << t.month << "-" << t.day << " " << t.hour;
    }
    // Days past the month's end count on as mktime counted them.
    for (const SystemTime& t : {SystemTime{2004, 2, 0, 31, 12, 0, 0, 5}, SystemTime{2003, 2, 0, 29, 1, 0, 0, 0},
                                SystemTime{2004, 4, 0, 31, 23, 59, 59, 999}, SystemTime{1970, 1, 0, 1, 16, 0, 0, 0},
                                SystemTime{2004, 12, 0, 0, 7, 0, 0, 0}}) {
        uint64_t former = 0;
        ASSERT_TRUE(FormerStamp(t, former));
        EXPECT_EQ(Delivered(t).first, former) << t.month << "-" << t.day;
    }
}

}  // namespace
