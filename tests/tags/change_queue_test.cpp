// The status change queue and its delivery into BWYX items, relay times read
// in the relays' default zone, UTC+8.

#include <gtest/gtest.h>

#include <string>

#include "fake_clock.h"
#include "tags/change_delivery.h"
#include "model/change_queue.h"
#include "test_packet.h"

namespace {

using vorlan::ChangeQueue;
using vorlan::StatusChange;
using vorlan::SystemTime;
using vorlan_test::FakeClock;
using vorlan_test::TestPacket;

StatusChange Change(int32_t key, int32_t year, int32_t month, int32_t day, int32_t hour,
                    int32_t minute, int32_t second, int32_t ms) {
    StatusChange c;
    c.key = key;
    c.state = key >= 10000 ? 1 : 0;
    c.year = year;
    c.month = month;
    c.day = day;
    c.hour = hour;
    c.minute = minute;
    c.second = second;
    c.millisecond = ms;
    return c;
}

uint64_t FileTimeOf(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                    int32_t second, int32_t ms) {
    SystemTime t{year, month, 0, day, hour, minute, second, ms};
    uint64_t ft = 0;
    EXPECT_TRUE(vorlan::SystemTimeToFileTime(t, ft));
    return ft;
}

class ChangeQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        // UTC now: 2003-12-25 15:59:05.000.
        now_ = FileTimeOf(2003, 12, 25, 15, 59, 5, 0);
        clock.SetFileTime(now_);
    }
    int32_t Deliver(TestPacket& p) { return vorlan::DeliverChanges(relay, &p.packet, clock, zone); }

    vorlan::DeviceRecord relay;
    FakeClock clock;
    vorlan::RelayZone zone;
    uint64_t now_ = 0;
};

TEST_F(ChangeQueueTest, QueueOperationsKeepOrderAndRefuseWhatIsNotThere) {
    ChangeQueue q;
    q.Append(Change(4, 2004, 1, 1, 0, 0, 0, 1));
    q.Append(Change(10004, 2004, 1, 1, 0, 0, 0, 2));
    q.Append(Change(4, 2004, 1, 1, 0, 0, 0, 3));
    ASSERT_EQ(q.Count(), 3u);
    EXPECT_EQ(q.KeyAt(1), 10004);

    StatusChange out = Change(99, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(q.Take(5, out), -1);
    EXPECT_EQ(out.key, 99);
    EXPECT_EQ(q.Count(), 3u);

    // The oldest record with the key goes first.
    EXPECT_EQ(q.Take(4, out), 1);
    EXPECT_EQ(out.millisecond, 1);
    ASSERT_EQ(q.Count(), 2u);
    EXPECT_EQ(q.KeyAt(0), 10004);
    EXPECT_EQ(q.KeyAt(1), 4);

    q.RemoveAt(7);  // outside: nothing happens
    EXPECT_EQ(q.Count(), 2u);
    q.RemoveAt(0);
    EXPECT_EQ(q.KeyAt(0), 4);
}

TEST_F(ChangeQueueTest, QueueHoldsAtMost4096RecordsDroppingTheOldest) {
    ChangeQueue q;
    for (int32_t key = 0; key <= 4096; ++key) q.Append(Change(key, 2004, 1, 1, 0, 0, 0, 0));
    ASSERT_EQ(q.Count(), ChangeQueue::kMaxRecords);
    EXPECT_EQ(ChangeQueue::kMaxRecords, 4096u);
    EXPECT_EQ(q.KeyAt(0), 1);
    EXPECT_EQ(q.KeyAt(4095), 4096);
}

TEST_F(ChangeQueueTest, OrderSurvivesRemovalsFromTheFrontAndGrowth) {
    ChangeQueue q;
    int32_t next = 0;
    int32_t oldest = 0;
    // Far more records pass through than the storage first holds, with the
    // oldest leaving in between; the queue always reads oldest first.
    for (int round = 0; round < 50; ++round) {
        for (int i = 0; i < 30; ++i) q.Append(Change(next++, 2004, 1, 1, 0, 0, 0, 0));
        for (int i = 0; i < 20; ++i, ++oldest) {
            StatusChange out;
            ASSERT_EQ(q.Take(oldest, out), 1);
            ASSERT_EQ(out.key, oldest);
        }
        ASSERT_EQ(q.Count(), static_cast<size_t>(next - oldest));
        for (size_t i = 0; i < q.Count(); ++i) ASSERT_EQ(q.KeyAt(i), oldest + static_cast<int32_t>(i));
    }
    q.KeepIf([](const StatusChange& c) { return c.key % 2 == 0; });
    for (size_t i = 1; i < q.Count(); ++i) EXPECT_EQ(q.KeyAt(i), q.KeyAt(i - 1) + 2);
}

TEST_F(ChangeQueueTest, EmptyQueueDeliversZeroWithTheCurrentTime) {
    TestPacket p(0, 12, 0, {5, 10005});
    EXPECT_EQ(Deliver(p), 1);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(p.Long(i), 0);
        EXPECT_EQ(p.item(i).quality, 192);
        EXPECT_EQ(p.Stamp(i), now_);
    }
}

TEST_F(ChangeQueueTest, TakenRecordDeliversOneThenTheEmptiedQueueDeliversZero) {
    relay.points.changeQueue.Append(Change(4, 2004, 3, 1, 0, 30, 0, 250));
    TestPacket p(0, 12, 0, {5, 10005});
    Deliver(p);
    EXPECT_EQ(p.Long(0), 1);
    EXPECT_EQ(p.Stamp(0), FileTimeOf(2004, 2, 29, 16, 30, 0, 250));
    EXPECT_EQ(p.item(0).quality, 192);
    EXPECT_EQ(p.Long(1), 0);
    EXPECT_EQ(p.Stamp(1), now_);
    EXPECT_EQ(relay.points.changeQueue.Count(), 0u);
}

TEST_F(ChangeQueueTest, RecordsNoItemAsksForArePruned) {
    relay.points.changeQueue.Append(Change(4, 2004, 1, 1, 12, 0, 0, 0));
    relay.points.changeQueue.Append(Change(10004, 2004, 1, 1, 12, 0, 1, 0));
    TestPacket p(0, 12, 0, {10005});
    Deliver(p);
    EXPECT_EQ(p.Long(0), 1);
    EXPECT_EQ(p.Stamp(0), FileTimeOf(2004, 1, 1, 4, 0, 1, 0));
    EXPECT_EQ(relay.points.changeQueue.Count(), 0u);

    for (int32_t key : {7, 8, 9}) relay.points.changeQueue.Append(Change(key, 2004, 1, 1, 12, 0, 0, 0));
    TestPacket q(0, 12, 0, {9});
    Deliver(q);
    EXPECT_EQ(q.Long(0), 1);
    EXPECT_EQ(relay.points.changeQueue.Count(), 0u);

    // A packet that asks for none of the keys empties the queue, then delivers 0.
    relay.points.changeQueue.Append(Change(3, 2004, 1, 1, 12, 0, 0, 0));
    TestPacket r(0, 12, 0, {1});
    Deliver(r);
    EXPECT_EQ(r.Long(0), 0);
    EXPECT_EQ(r.Stamp(0), now_);
}

TEST_F(ChangeQueueTest, ItemWithoutARecordIsLeftAloneWhileOthersAreQueued) {
    relay.points.changeQueue.Append(Change(4, 2004, 1, 1, 12, 0, 0, 0));
    relay.points.changeQueue.Append(Change(4, 2004, 1, 1, 12, 0, 9, 0));
    TestPacket p(0, 12, 0, {6, 5});
    Deliver(p);
    EXPECT_TRUE(p.Untouched(0));
    EXPECT_EQ(p.Long(1), 1);
    EXPECT_EQ(p.Stamp(1), FileTimeOf(2004, 1, 1, 4, 0, 0, 0));  // the older one
    ASSERT_EQ(relay.points.changeQueue.Count(), 1u);
    EXPECT_EQ(relay.points.changeQueue.At(0).second, 9);  // the newer one waits
}

TEST_F(ChangeQueueTest, UnrepresentableRecordTimesDeliverTheCurrentTime) {
    // A relay with an unset clock, and fields no calendar has.
    relay.points.changeQueue.Append(Change(4, 1969, 12, 31, 23, 0, 0, 0));
    relay.points.changeQueue.Append(Change(5, 2004, 1, 1, 12, 0, 0, 1650));
    relay.points.changeQueue.Append(Change(6, 0, 0, 0, 0, 0, 0, 0));
    TestPacket p(0, 12, 0, {5, 6, 7});
    Deliver(p);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(p.Long(i), 1) << i;
        EXPECT_EQ(p.item(i).quality, 192);
    }
    EXPECT_EQ(p.Stamp(0), now_);
    EXPECT_EQ(p.Stamp(1), now_);
    EXPECT_EQ(p.Stamp(2), now_);
}

TEST_F(ChangeQueueTest, OutOfOrderItemsAndUnaskedRecordsBetweenThem) {
    // 3 is asked by no item; 5 and 6 are asked in the other order than reported.
    relay.points.changeQueue.Append(Change(3, 2004, 1, 1, 12, 0, 0, 0));
    relay.points.changeQueue.Append(Change(4, 2004, 1, 1, 12, 0, 1, 0));
    relay.points.changeQueue.Append(Change(5, 2004, 1, 1, 12, 0, 2, 0));
    relay.points.changeQueue.Append(Change(4, 2004, 1, 1, 12, 0, 3, 0));
    relay.points.changeQueue.Append(Change(7, 2004, 1, 1, 12, 0, 4, 0));
    TestPacket p(0, 12, 0, {6, 5, 5, 5, 9});
    Deliver(p);
    EXPECT_EQ(p.Stamp(0), FileTimeOf(2004, 1, 1, 4, 0, 2, 0));
    EXPECT_EQ(p.Stamp(1), FileTimeOf(2004, 1, 1, 4, 0, 1, 0));
    EXPECT_EQ(p.Stamp(2), FileTimeOf(2004, 1, 1, 4, 0, 3, 0));
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(p.Long(i), 1) << i;
    // Only 7 (asked by no item) was left: it went, so the queue is empty.
    EXPECT_EQ(p.Long(3), 0);
    EXPECT_EQ(p.Stamp(3), now_);
    EXPECT_EQ(p.Long(4), 0);
    EXPECT_EQ(relay.points.changeQueue.Count(), 0u);
}

TEST_F(ChangeQueueTest, LongPacketsAreDeliveredInListOrder) {
    // More items than one chunk of the delivery, asked in reverse order.
    TestPacket p(0, 12, 0);
    for (int32_t key = 599; key >= 0; --key) {
        relay.points.changeQueue.Append(Change(key, 2004, 1, 1, 12, key / 60, key % 60, 0));
    }
    for (uint16_t address = 1; address <= 600; ++address) p.Add(address);
    p.Add(601);  // nothing queued for it, and by then nothing at all
    Deliver(p);
    for (size_t i = 0; i < 600; ++i) {
        ASSERT_EQ(p.Long(i), 1) << i;
        ASSERT_EQ(p.Stamp(i), FileTimeOf(2004, 1, 1, 4, static_cast<int32_t>(i) / 60, static_cast<int32_t>(i) % 60, 0));
    }
    EXPECT_EQ(p.Long(600), 0);
    EXPECT_EQ(relay.points.changeQueue.Count(), 0u);
}

TEST_F(ChangeQueueTest, EmptyPacketEmptiesTheQueue) {
    relay.points.changeQueue.Append(Change(4, 2004, 1, 1, 12, 0, 0, 0));
    TestPacket p(0, 12, 0);
    EXPECT_EQ(Deliver(p), 1);
    EXPECT_EQ(relay.points.changeQueue.Count(), 0u);
}

}  // namespace
