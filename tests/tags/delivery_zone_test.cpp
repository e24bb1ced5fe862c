// Delivered change times against the C library's own conversion (mktime,
// less eight hours, localtime_r), in zones with and without daylight-saving
// time, across their changes: the delivery's arithmetic must give the same
// stamp for every time.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "fake_clock.h"
#include "model/change_queue.h"
#include "platform/local_zone.h"
#include "tags/change_delivery.h"
#include "test_packet.h"

namespace {

using vorlan::StatusChange;
using vorlan::SystemTime;

class DeliveryZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TZ");
        hadTz_ = old != nullptr;
        if (hadTz_) oldTz_ = old;
    }
    void TearDown() override {
        if (hadTz_) {
            setenv("TZ", oldTz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void UseZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }

    // The stamp a delivery gives a change at local time `t`.
    uint64_t Delivered(const SystemTime& t) {
        StatusChange c;
        c.key = 4;
        vorlan::SetTime(c, t);
        relay.points.changeQueue.Append(c);
        vorlan_test::TestPacket p(0, 12, 0, {5});
        vorlan::DeliverChanges(relay, &p.packet, clock);
        return p.Stamp(0);
    }
    // The same through the C library, as every delivery converted before.
    uint64_t Library(SystemTime t) {
        uint64_t stamp = 0;
        EXPECT_EQ(vorlan::LocalToUtc(&t, clock), 1);
        EXPECT_TRUE(vorlan::SystemTimeToFileTime(t, stamp));
        return stamp;
    }
    // Compares every `stepSeconds` from `hoursBefore` hours before the local
    // midnight starting `year-month-day` to `hoursAfter` hours after it.
    void Compare(int32_t year, int32_t month, int32_t day, int hoursBefore, int hoursAfter, int stepSeconds) {
        const int64_t midnight = vorlan::FieldSeconds(year, month, day, 0, 0, 0);
        for (int64_t at = midnight - hoursBefore * 3600LL; at <= midnight + hoursAfter * 3600LL; at += stepSeconds) {
            const time_t fields = static_cast<time_t>(at);
            tm f{};
            gmtime_r(&fields, &f);
            const SystemTime t{f.tm_year + 1900, f.tm_mon + 1, 0, f.tm_mday,
                               f.tm_hour,        f.tm_min,     f.tm_sec, static_cast<int32_t>(at % 1000)};
            const uint64_t library = Library(t);
            ASSERT_EQ(Delivered(t), library) << std::getenv("TZ") << " " << t.year << "-" << t.month << "-"
                                             << t.day << " " << t.hour << ":" << t.minute << ":" << t.second;
        }
    }

    vorlan::DeviceRecord relay;
    vorlan_test::FakeClock clock;

private:
    bool hadTz_ = false;
    std::string oldTz_;
};

TEST_F(DeliveryZoneTest, BerlinAcrossBothChangesOfTheYear) {
    UseZone("Europe/Berlin");
    Compare(2004, 3, 28, 72, 72, 7 * 60 + 13);   // 02:00 becomes 03:00
    Compare(2004, 10, 31, 72, 72, 7 * 60 + 13);  // 03:00 becomes 02:00 again
    Compare(2004, 7, 1, 48, 48, 3600 + 1);       // summer, far from both
    // Second by second through the hours of the changes and the eight after.
    Compare(2004, 3, 28, 0, 12, 1);
    Compare(2021, 10, 31, 0, 12, 1);
}

TEST_F(DeliveryZoneTest, ShanghaiAndNewYork) {
    UseZone("Asia/Shanghai");
    Compare(2004, 3, 1, 72, 72, 11 * 60 + 7);
    Compare(1991, 4, 14, 72, 72, 11 * 60 + 7);  // its last daylight-saving year
    Compare(1991, 9, 15, 72, 72, 11 * 60 + 7);
    UseZone("America/New_York");
    Compare(2004, 4, 4, 72, 72, 11 * 60 + 7);
    Compare(2004, 10, 31, 72, 72, 11 * 60 + 7);
}

TEST_F(DeliveryZoneTest, SteadySpansStopShortOfTheChanges) {
    UseZone("Europe/Berlin");
    vorlan::LocalZoneCache zone;
    zone.Refresh(0);
    constexpr int64_t kMargin = 56 * 3600;
    int64_t offset = 0;
    EXPECT_TRUE(zone.SteadyOffset(vorlan::FieldSeconds(2004, 7, 1, 12, 0, 0), kMargin, offset));
    EXPECT_EQ(offset, 7200);
    EXPECT_TRUE(zone.SteadyOffset(vorlan::FieldSeconds(2004, 1, 10, 12, 0, 0), kMargin, offset));
    EXPECT_EQ(offset, 3600);
    EXPECT_FALSE(zone.SteadyOffset(vorlan::FieldSeconds(2004, 3, 28, 2, 30, 0), kMargin, offset));  // skipped
    EXPECT_FALSE(zone.SteadyOffset(vorlan::FieldSeconds(2004, 3, 29, 12, 0, 0), kMargin, offset));
    EXPECT_FALSE(zone.SteadyOffset(vorlan::FieldSeconds(2004, 3, 26, 2, 0, 0), kMargin, offset));
    EXPECT_TRUE(zone.SteadyOffset(vorlan::FieldSeconds(2004, 4, 1, 12, 0, 0), kMargin, offset));
    EXPECT_EQ(offset, 7200);
}

TEST_F(DeliveryZoneTest, ZoneChangedBetweenDeliveriesIsFollowedAtOnce) {
    // Five in the morning after Berlin's spring change: its eight hours
    // before lie in winter time, so Berlin's stamp is an hour before the
    // fields less eight hours, which a steady zone gives. The fake clock
    // stands still: only the changed TZ tells the zones apart.
    const SystemTime t{2004, 3, 0, 28, 5, 0, 0, 0};
    uint64_t steady = 0;
    ASSERT_TRUE(vorlan::SystemTimeToFileTime(SystemTime{2004, 3, 0, 27, 21, 0, 0, 0}, steady));
    for (int round = 0; round < 2; ++round) {
        UseZone("Asia/Shanghai");
        EXPECT_EQ(Delivered(t), steady);
        UseZone("Europe/Berlin");
        EXPECT_EQ(Delivered(t), steady - 3600 * vorlan::kFileTimeTicksPerSecond);
        EXPECT_EQ(Delivered(t), Library(t));
    }
}

TEST_F(DeliveryZoneTest, StepDaysAreCountedOnAsTheCalendarCountsThem) {
    UseZone("Europe/Berlin");
    // The 31st of a shorter month counts on into the next.
    for (const SystemTime& t : {SystemTime{2004, 2, 0, 31, 12, 0, 0, 5}, SystemTime{2003, 2, 0, 29, 1, 0, 0, 0},
                                SystemTime{2004, 4, 0, 31, 23, 59, 59, 999}, SystemTime{1970, 1, 0, 1, 9, 0, 0, 0},
                                SystemTime{1970, 1, 0, 1, 8, 59, 59, 0}}) {
        EXPECT_EQ(Delivered(t), Library(t)) << t.month << "-" << t.day;
    }
}

}  // namespace
