// SPDX-License-Identifier: Apache-2.0
// The tag service register by register, on a device table in memory.

#include "tags/tag_service.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "fake_clock.h"
#include "hex.h"
#include "platform/atom_table.h"
#include "test_packet.h"
#include "frame_calls.h"

namespace {

using vorlan::Request;

using vorlan::DeviceRecord;
using vorlan_test::Hex;
using vorlan_test::TestPacket;
using vorlan_test::ToHex;

constexpr int16_t kRead = 0;
constexpr int16_t kWrite = 1;

class TagServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock.SetFileTime(kNow);
        Register(1);
    }
    void Register(uint8_t address) {
        DeviceRecord& r = state->devices[static_cast<size_t>(state->deviceCount)];
        r.address = address;
        r.index = static_cast<uint8_t>(state->deviceCount);
        state->deviceCount += 1;
    }
    int32_t Serve(TestPacket& p) {
        vorlan::TagContext ctx{*state, clock, nullptr, legacyQuality};
        std::memset(frame, 0, sizeof frame);
        length = -7;
        expected = -7;
        return vorlan_test::ServeInto(ctx, &p.packet, frame, sizeof frame, length, expected,
                                   p.packet.direction);
    }
    DeviceRecord& relay(size_t i = 0) { return state->devices[i]; }
    std::string Frame() const { return ToHex(frame, length > 0 ? static_cast<size_t>(length) : 0); }

    static constexpr uint64_t kNow = 0x01D2'3456'789A'BCDEULL;
    // These tests pin the register behaviour every value good and stamped
    // now (quality = legacy); the freshness rules have tests of their own.
    bool legacyQuality = true;
    std::unique_ptr<vorlan::PollingState> state = std::make_unique<vorlan::PollingState>();
    vorlan_test::FakeClock clock;
    uint8_t frame[512] = {};
    int32_t length = 0;
    int32_t expected = 0;
};

TEST_F(TagServiceTest, DeviceIndexOutsideTheTableFailsWithoutTouchingAnything) {
    for (int16_t index : {int16_t{32}, int16_t{-1}, int16_t{0x7FFF}}) {
        TestPacket p(index, VORLAN_REG_YC, kRead, {1});
        EXPECT_EQ(Serve(p), 0);
        EXPECT_TRUE(p.Untouched(0));
        EXPECT_EQ(length, 0);
    }
}

TEST_F(TagServiceTest, UnknownRegistersAndRegistersWithoutValuesLeaveItemsAlone) {
    for (int16_t reg : {int16_t{20}, int16_t{-1}, int16_t{VORLAN_REG_ALARM}, int16_t{VORLAN_REG_EVENT}, int16_t{VORLAN_REG_CPU},
                        int16_t{VORLAN_REG_RTUID}}) {
        for (int16_t dir : {kRead, kWrite}) {
            TestPacket p(0, reg, dir, {1, 2});
            p.SetByte(0, 1);
            EXPECT_EQ(Serve(p), 1);
            EXPECT_EQ(p.item(0).value[0], 1);
            EXPECT_EQ(p.item(0).quality, 0);
            EXPECT_TRUE(p.Untouched(1));
            EXPECT_EQ(length, 0);
        }
    }
}

// Every register in both directions with lists that are empty, claim more
// nodes than they have, or have no first node: nothing is read or written
// through a missing node and the record stays as it was.
TEST_F(TagServiceTest, EmptyAndShortItemListsAreHandledSafely) {
    for (int16_t reg = 0; reg < 20; ++reg) {
        if (reg == VORLAN_REG_SEND) continue;
        for (int16_t dir : {kRead, kWrite}) {
            TestPacket empty(0, reg, dir);
            empty.packet.items.count = 3;  // count without nodes
            EXPECT_EQ(Serve(empty), 1) << reg;

            TestPacket zero(0, reg, dir, {1});
            zero.packet.items.count = 0;  // a node, but the count says none
            zero.SetByte(0, 80);
            EXPECT_EQ(Serve(zero), 1) << reg;
            EXPECT_EQ(zero.item(0).quality, 0) << reg;
        }
    }
    EXPECT_EQ(relay().conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(relay().host.bwyxPhase, 1);
    EXPECT_EQ(relay().settings.settingState, 255);

    TestPacket shortList(0, VORLAN_REG_YC, kRead, {1, 2});
    shortList.packet.items.count = 5;  // walk ends at the last real node
    EXPECT_EQ(Serve(shortList), 1);
    EXPECT_EQ(shortList.item(1).quality, 192);
}

TEST_F(TagServiceTest, ValueRegistersServeTheStoredValuesInBothDirections) {
    relay().points.ycValue[0] = 10000.0f;
    relay().points.ycValue[63] = -1.5f;
    relay().points.yxState[0] = 7;  // any non-zero byte reads as 1
    relay().points.yxState[511] = 1;
    relay().points.ymValue[19] = 4660;
    for (int16_t dir : {kRead, kWrite}) {
        TestPacket yc(0, VORLAN_REG_YC, dir, {1, 64, 2});
        TestPacket yx(0, VORLAN_REG_YX, dir, {1, 512, 2});
        TestPacket ym(0, VORLAN_REG_YM, dir, {20, 1});
        ASSERT_EQ(Serve(yc), 1);
        ASSERT_EQ(Serve(yx), 1);
        ASSERT_EQ(Serve(ym), 1);
        EXPECT_EQ(yc.Float(0), 10000.0f);
        EXPECT_EQ(yc.Float(1), -1.5f);
        EXPECT_EQ(yc.Float(2), 0.0f);
        EXPECT_EQ(yx.Long(0), 1);
        EXPECT_EQ(yx.Long(1), 1);
        EXPECT_EQ(yx.Long(2), 0);
        EXPECT_EQ(ym.Long(0), 4660);
        EXPECT_EQ(ym.Long(1), 0);
        for (TestPacket* p : {&yc, &yx}) {
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(p->item(i).quality, 192);
                EXPECT_EQ(p->Stamp(i), kNow);
                EXPECT_EQ(p->item(i).value[4], 0xEE);  // only four bytes written
            }
        }
        EXPECT_EQ(ym.Stamp(0), kNow);
        EXPECT_EQ(length, 0);
    }
}

TEST_F(TagServiceTest, ArrayAddressesOutsideTheirTablesLeaveTheItemAlone) {
    TestPacket yc(0, VORLAN_REG_YC, kRead, {0, 65, 0xFFFF});
    TestPacket yx(0, VORLAN_REG_YX, kRead, {0, 513});
    TestPacket ym(0, VORLAN_REG_YM, kRead, {0, 21});
    TestPacket lb(0, VORLAN_REG_LBID, kRead, {0, 5});
    TestPacket lt(0, VORLAN_REG_LBTIME, kRead, {0, 5});
    for (TestPacket* p : {&yc, &yx, &ym, &lb, &lt}) {
        EXPECT_EQ(Serve(*p), 1);
        EXPECT_TRUE(p->Untouched(0));
        EXPECT_TRUE(p->Untouched(1));
    }
    TestPacket yk(0, VORLAN_REG_YK, kWrite, {65});
    yk.SetByte(0, 0xCC);
    Serve(yk);
    EXPECT_EQ(relay().conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(state->priorityDevice, 255);
}

TEST_F(TagServiceTest, SendBuildsTheNextRequestAndLeavesItemsAlone) {
    for (int16_t dir : {kRead, kWrite}) {
        TestPacket p(0, VORLAN_REG_SEND, dir, {1});
        EXPECT_EQ(Serve(p), 1);
        EXPECT_EQ(Frame(), "01 83 00 30 F0");
        EXPECT_TRUE(p.Untouched(0));
    }
}

TEST_F(TagServiceTest, ShowSwitchesTheTraceOnWritesOnly) {
    TestPacket on(0, VORLAN_REG_SHOW, kWrite, {1});
    on.SetByte(0, 1);
    Serve(on);
    EXPECT_EQ(relay().host.traceOn, 1u);
    TestPacket other(0, VORLAN_REG_SHOW, kWrite, {1});
    other.SetByte(0, 2);
    Serve(other);
    EXPECT_EQ(relay().host.traceOn, 1u);
    TestPacket readZero(0, VORLAN_REG_SHOW, kRead, {1});
    readZero.SetByte(0, 0);
    Serve(readZero);
    EXPECT_EQ(relay().host.traceOn, 1u);
    TestPacket off(0, VORLAN_REG_SHOW, kWrite, {1});
    off.SetByte(0, 0);
    Serve(off);
    EXPECT_EQ(relay().host.traceOn, 0u);
}

TEST_F(TagServiceTest, RemoteControlSelectThenConfirmationIsSeenByReads) {
    Register(2);
    TestPacket select(1, VORLAN_REG_YK, kWrite, {5});
    select.SetByte(0, 31);
    ASSERT_EQ(Serve(select), 1);
    DeviceRecord& r = relay(1);
    EXPECT_EQ(r.control.ykPoint, 4);
    EXPECT_EQ(r.control.ykCommand, 204);
    EXPECT_EQ(r.control.ykAction, 31);
    EXPECT_EQ(r.control.ykState, 1);
    EXPECT_EQ(r.conversation.nextCommand, Request::ControlSelect);
    EXPECT_EQ(state->priorityDevice, 1);
    EXPECT_EQ(length, 0);

    TestPacket read(1, VORLAN_REG_YK, kRead, {4, 5});
    Serve(read);
    EXPECT_TRUE(read.Untouched(0));
    EXPECT_EQ(read.item(1).value[0], 31);
    EXPECT_EQ(read.item(1).quality, 192);
    EXPECT_EQ(read.Stamp(1), vorlan_test::kUntouchedStamp);

    r.control.ykAction = 41;  // the relay confirmed the close
    TestPacket again(1, VORLAN_REG_YK, kRead, {5});
    Serve(again);
    EXPECT_EQ(again.item(0).value[0], 41);

    TestPacket open(1, VORLAN_REG_YK, kWrite, {3});
    open.SetByte(0, 30);
    Serve(open);
    EXPECT_EQ(r.control.ykPoint, 2);
    EXPECT_EQ(r.control.ykCommand, 170);
    EXPECT_EQ(r.control.ykAction, 30);
}

TEST_F(TagServiceTest, RemoteControlDirectCodesCancelAndProgress) {
    DeviceRecord& r = relay();
    TestPacket direct(0, VORLAN_REG_YK, kWrite, {9});
    direct.SetByte(0, 0xAA);
    Serve(direct);
    EXPECT_EQ(r.conversation.nextCommand, Request::ControlSelect);
    EXPECT_EQ(r.control.ykPoint, 8);
    EXPECT_EQ(r.control.ykCommand, 170);
    EXPECT_EQ(r.control.ykState, 1);
    EXPECT_EQ(r.control.ykAction, 255);  // a direct code does not change the progress
    EXPECT_EQ(state->priorityDevice, 0);

    TestPacket cancel(0, VORLAN_REG_YK, kWrite, {9});
    cancel.SetByte(0, 55);
    Serve(cancel);
    EXPECT_EQ(r.conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(r.control.ykPoint, 0);
    EXPECT_EQ(r.control.ykCommand, 0);
    EXPECT_EQ(r.control.ykState, 255);

    r.conversation.nextCommand = Request::RecordingList;
    TestPacket progress(0, VORLAN_REG_YK, kWrite, {12});
    progress.SetByte(0, 11);
    Serve(progress);
    EXPECT_EQ(r.control.ykPoint, 11);
    EXPECT_EQ(r.control.ykAction, 21);
    EXPECT_EQ(r.conversation.nextCommand, Request::RecordingList);
    EXPECT_EQ(r.control.ykState, 255);
}

TEST_F(TagServiceTest, RemoteControlWriteOfSeveralItemsTheLaterWins) {
    TestPacket p(0, VORLAN_REG_YK, kWrite, {2, 3, 7, 8});
    p.SetByte(0, 31);
    p.SetByte(1, 0);   // skipped
    p.SetByte(2, 30);
    p.SetByte(3, 99);  // unknown, nothing
    Serve(p);
    EXPECT_EQ(relay().control.ykPoint, 6);
    EXPECT_EQ(relay().control.ykCommand, 170);
    EXPECT_EQ(relay().control.ykAction, 30);
}

TEST_F(TagServiceTest, SignalResetEightyQueuesTheBroadcastAndNinetyIsAcknowledged) {
    TestPacket reset(0, VORLAN_REG_FG, kWrite, {1});
    reset.SetByte(0, 80);
    ASSERT_EQ(Serve(reset), 1);
    EXPECT_EQ(reset.item(0).value[0], 0);
    EXPECT_EQ(Frame(), "FF 80 01 00 30 6C");

    TestPacket ninety(0, VORLAN_REG_FG, kWrite, {1});
    ninety.SetByte(0, 90);
    ASSERT_EQ(Serve(ninety), 1);
    EXPECT_EQ(ninety.item(0).value[0], 0);
    EXPECT_EQ(length, 0);

    relay().conversation.nextCommand = Request::GeneralPoll;
    TestPacket other(0, VORLAN_REG_FG, kWrite, {1});
    other.SetByte(0, 81);
    TestPacket read(0, VORLAN_REG_FG, kRead, {1});
    read.SetByte(0, 80);
    Serve(other);
    Serve(read);
    EXPECT_EQ(other.item(0).value[0], 81);
    EXPECT_EQ(read.item(0).value[0], 80);
    EXPECT_EQ(relay().conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(length, 0);
}

TEST_F(TagServiceTest, SettingZoneSwitchAndWrite) {
    DeviceRecord& r = relay();
    TestPacket zone(0, VORLAN_REG_DZONE, kRead, {1, 2});
    Serve(zone);
    EXPECT_EQ(zone.item(0).value[0], 100);
    EXPECT_EQ(zone.item(1).value[0], 100);
    EXPECT_EQ(zone.item(1).quality, 192);
    EXPECT_EQ(zone.Stamp(1), vorlan_test::kUntouchedStamp);

    TestPacket state0(0, VORLAN_REG_DZWR, kRead, {1});
    Serve(state0);
    EXPECT_EQ(state0.Long(0), 255);

    TestPacket noZone(0, VORLAN_REG_DZONE, kWrite, {1});
    noZone.SetByte(0, 100);
    TestPacket keep(0, VORLAN_REG_DZNOW, kWrite, {1});
    keep.SetByte(0, 255);
    Serve(noZone);
    Serve(keep);
    EXPECT_EQ(r.settings.settingState, 255);
    EXPECT_EQ(r.conversation.nextCommand, Request::GeneralPoll);

    TestPacket pick(0, VORLAN_REG_DZONE, kWrite, {1});
    pick.SetByte(0, 3);
    Serve(pick);
    EXPECT_EQ(r.settings.settingZone, 3);
    EXPECT_EQ(r.settings.settingState, 0);
    EXPECT_EQ(r.conversation.nextCommand, Request::SettingRead);

    TestPacket sw(0, VORLAN_REG_DZNOW, kWrite, {1});
    sw.SetByte(0, 2);
    Serve(sw);
    EXPECT_EQ(r.settings.settingZone, 2);
    EXPECT_EQ(r.conversation.nextCommand, Request::ZoneSwitch);

    TestPacket ignored(0, VORLAN_REG_DZWR, kWrite, {1});
    ignored.SetByte(0, 3);
    Serve(ignored);
    EXPECT_EQ(r.conversation.nextCommand, Request::ZoneSwitch);
    TestPacket write(0, VORLAN_REG_DZWR, kWrite, {1});
    write.SetByte(0, 2);
    Serve(write);
    EXPECT_EQ(r.settings.settingState, 2);
    EXPECT_EQ(r.conversation.nextCommand, Request::SettingWrite);
    TestPacket state2(0, VORLAN_REG_DZWR, kRead, {1});
    Serve(state2);
    EXPECT_EQ(state2.Long(0), 2);
    EXPECT_EQ(state2.item(0).quality, 192);
}

TEST_F(TagServiceTest, RtuTypeReadsTheLowByte) {
    relay().settings.rtuType = 0x1234;
    for (int16_t dir : {kRead, kWrite}) {
        TestPacket p(0, VORLAN_REG_RTUTYPE, dir, {1});
        Serve(p);
        EXPECT_EQ(p.item(0).value[0], 0x34);
        EXPECT_EQ(p.item(0).value[1], 0xEE);
        EXPECT_EQ(p.item(0).quality, 192);
    }
}

TEST_F(TagServiceTest, StatusChangesAlternateBetweenClearingAndDelivering) {
    vorlan::StatusChange change;
    change.key = 4;  // input 4 went to 0
    change.year = 2004;
    change.month = 3;
    change.day = 1;
    change.minute = 30;
    relay().points.changeQueue.Append(change);

    TestPacket clear(0, VORLAN_REG_BWYX, kRead, {5, 10005});
    Serve(clear);
    EXPECT_EQ(clear.Long(0), 0);
    EXPECT_EQ(clear.Long(1), 0);
    EXPECT_EQ(clear.item(0).quality, 192);
    EXPECT_EQ(clear.Stamp(0), vorlan_test::kUntouchedStamp);
    EXPECT_EQ(relay().points.changeQueue.Count(), 1u);

    TestPacket deliver(0, VORLAN_REG_BWYX, kRead, {5, 10005});
    Serve(deliver);
    EXPECT_EQ(deliver.Long(0), 1);
    EXPECT_EQ(deliver.Long(1), 0);
    EXPECT_EQ(deliver.item(0).quality, 192);
    EXPECT_EQ(relay().points.changeQueue.Count(), 0u);

    TestPacket write(0, VORLAN_REG_BWYX, kWrite, {5});
    Serve(write);
    EXPECT_TRUE(write.Untouched(0));
    EXPECT_EQ(relay().host.bwyxPhase, 1);
    TestPacket clearAgain(0, VORLAN_REG_BWYX, kRead, {5});
    Serve(clearAgain);
    EXPECT_EQ(clearAgain.Long(0), 0);
    EXPECT_EQ(relay().host.bwyxPhase, 0);
}

TEST_F(TagServiceTest, RecordingIdsAndCount) {
    relay().recording.lbCount = 2;
    relay().recording.lbId = {11, 12, 13, 14};
    TestPacket ids(0, VORLAN_REG_LBID, kRead, {1, 2, 3});
    Serve(ids);
    EXPECT_EQ(ids.Long(0), 11);
    EXPECT_EQ(ids.Long(1), 12);
    EXPECT_EQ(ids.Long(2), -2);
    EXPECT_EQ(ids.item(2).quality, 192);
    EXPECT_EQ(ids.Stamp(2), kNow);

    TestPacket count(0, VORLAN_REG_LBCOUNT, kRead, {1});
    Serve(count);
    EXPECT_EQ(count.item(0).value[0], 2);
    EXPECT_EQ(count.Stamp(0), kNow);

    TestPacket idWrite(0, VORLAN_REG_LBID, kWrite, {1});
    TestPacket countWrite(0, VORLAN_REG_LBCOUNT, kWrite, {1});
    Serve(idWrite);
    Serve(countWrite);
    EXPECT_TRUE(idWrite.Untouched(0));
    EXPECT_TRUE(countWrite.Untouched(0));

    relay().recording.lbCount = 200;  // a count beyond the list never reads past it
    TestPacket all(0, VORLAN_REG_LBID, kRead, {4});
    Serve(all);
    EXPECT_EQ(all.Long(0), 14);
}

std::string AtomText(uint16_t atom) {
    char buffer[64];
    const uint32_t n = VorlanGetAtomName(atom, buffer, sizeof buffer);
    return n == 0 ? std::string("<none>") : std::string(buffer);
}

TEST_F(TagServiceTest, RecordingTimesStayReadableUntilTheNextReadOfTheEntry) {
    relay().recording.lbCount = 2;
    relay().recording.lbTime[0] = "2004-03-01 00:30:00";
    relay().recording.lbTime[1] = "2004-03-02 11:00:05";
    TestPacket times(0, VORLAN_REG_LBTIME, kRead, {1, 2, 3});
    Serve(times);
    const uint16_t first = times.Atom(0);
    const uint16_t second = times.Atom(1);
    EXPECT_GE(first, 0xC000);
    EXPECT_EQ(AtomText(first), "2004-03-01 00:30:00");
    EXPECT_EQ(AtomText(second), "2004-03-02 11:00:05");
    EXPECT_EQ(times.Atom(2), 0);  // entry not listed
    EXPECT_EQ(times.item(2).quality, 192);
    EXPECT_EQ(times.Stamp(0), kNow);
    EXPECT_EQ(times.item(0).value[2], 0xEE);  // an atom is two bytes

    // A new list replaces the text of entry 1; its old atom goes, entry 2's stays.
    relay().recording.lbTime[0] = "2004-05-05 05:05:05";
    TestPacket again(0, VORLAN_REG_LBTIME, kRead, {1});
    Serve(again);
    EXPECT_EQ(AtomText(again.Atom(0)), "2004-05-05 05:05:05");
    EXPECT_EQ(AtomText(first), "<none>");
    EXPECT_EQ(AtomText(second), "2004-03-02 11:00:05");

    // Reading the same text again keeps one reference, not two.
    TestPacket twice(0, VORLAN_REG_LBTIME, kRead, {2, 2});
    Serve(twice);
    EXPECT_EQ(twice.Atom(0), second);

    vorlan::ReleaseRecordingAtoms(*state);
    EXPECT_EQ(AtomText(second), "<none>");
    EXPECT_EQ(AtomText(again.Atom(0)), "<none>");
}

TEST_F(TagServiceTest, RecordingStartSearchesThePacketsRelay) {
    Register(2);
    relay(0).recording.lbCount = 2;
    relay(0).recording.lbId = {7, 9, 0, 0};
    relay(1).recording.lbCount = 1;
    relay(1).recording.lbId = {9, 0, 0, 0};
    state->currentDevice = 1;  // served last: not the relay the host asks

    TestPacket zero(0, VORLAN_REG_LBSTART, kWrite, {1});
    zero.SetLong(0, 0);
    TestPacket below(0, VORLAN_REG_LBSTART, kWrite, {1});
    below.SetLong(0, -5);
    Serve(zero);
    Serve(below);
    EXPECT_EQ(relay().conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(relay().recording.lbRequestId, 0);

    TestPacket unknown(0, VORLAN_REG_LBSTART, kWrite, {1});
    unknown.SetLong(0, 8);
    Serve(unknown);
    EXPECT_EQ(relay().recording.lbRequestId, 8);
    EXPECT_EQ(relay().recording.lbIndex, -1);
    EXPECT_EQ(relay().conversation.nextCommand, Request::GeneralPoll);

    relay().recording.lbNextSample = 17;
    TestPacket listed(0, VORLAN_REG_LBSTART, kWrite, {1});
    listed.SetLong(0, 9);
    Serve(listed);
    EXPECT_EQ(relay().recording.lbRequestId, 9);
    EXPECT_EQ(relay().recording.lbIndex, 1);
    EXPECT_EQ(relay().recording.lbNextSample, 0);
    EXPECT_EQ(relay().conversation.nextCommand, Request::RecordingBlock);
    EXPECT_EQ(relay(1).recording.lbIndex, -1);

    TestPacket list(0, VORLAN_REG_LBSTART, kWrite, {1});
    list.SetLong(0, -1);
    Serve(list);
    EXPECT_EQ(relay().conversation.nextCommand, Request::RecordingList);
}

TEST_F(TagServiceTest, RecordingStartReadShowsWrittenFiles) {
    TestPacket before(0, VORLAN_REG_LBSTART, kRead, {1});
    Serve(before);
    EXPECT_TRUE(before.Untouched(0));
    relay().recording.lbFilesWritten = 1;
    TestPacket after(0, VORLAN_REG_LBSTART, kRead, {1});
    Serve(after);
    EXPECT_EQ(after.Long(0), -2);
    EXPECT_EQ(after.Stamp(0), kNow);
    EXPECT_EQ(after.item(0).quality, 192);
}

}  // namespace
