// The relays' clocks through the packet calls: the line settings read at
// OpenChannel (on a pseudo-terminal) choose the zone the time
// synchronisation writes and status-change times are read in, and whether
// the driver synchronises at all; the host's own zone changes nothing. The
// exchange then runs on a scripted line and a fake clock.

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "component/relay_driver.h"
#include "fake_clock.h"
#include "hex.h"
#include "pty_pair.h"
#include "scripted_port.h"
#include "test_packet.h"

namespace {

using vorlan::SystemTime;
using vorlan_test::FakeClock;
using vorlan_test::ScriptedPort;
using vorlan_test::TestPacket;
using vorlan_test::WithCrc;

uint64_t FileTimeOf(const SystemTime& utc) {
    uint64_t ft = 0;
    EXPECT_TRUE(vorlan::SystemTimeToFileTime(utc, ft));
    return ft;
}

class NoteRecorder final : public vorlan::MonitorSink {
public:
    explicit NoteRecorder(std::string& seen) : seen_(seen) {}
    // Continued lines are joined back to their note.
    void SendLine(const char* text, size_t size) override {
        const std::string line(text, size);
        if (line.rfind("   ", 0) == 0) seen_ += line.substr(3);
        else seen_ += "\n" + line;
    }

private:
    std::string& seen_;
};

class RelayClockTest : public ::testing::Test {
protected:
    RelayClockTest() {
        const char* old = std::getenv("TZ");
        hadTz_ = old != nullptr;
        if (hadTz_) oldTz_ = old;
        char dir[] = "/tmp/vorlan-clock-XXXXXX";
        if (mkdtemp(dir) != nullptr) dir_ = dir;
        setenv("VORLAN_LINES", (dir_ + "/lines.ini").c_str(), 1);
    }
    ~RelayClockTest() override {
        unsetenv("VORLAN_LINES");
        unlink((dir_ + "/lines.ini").c_str());
        rmdir(dir_.c_str());
        if (hadTz_) setenv("TZ", oldTz_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    static void UseHostZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }

    // A driver for relay 1, its channel opened with `lines` as the settings
    // file, then its line scripted. UTC now: 2003-07-15 00:30:05.250.
    void Open(const std::string& lines) {
        std::ofstream(dir_ + "/lines.ini") << lines;
        auto fake = std::make_unique<FakeClock>();
        clock = fake.get();
        clock->SetFileTime(FileTimeOf(SystemTime{2003, 7, 2, 15, 0, 30, 5, 250}));
        driver = std::make_unique<vorlan::CRelayDriver>(std::move(fake), std::make_unique<NoteRecorder>(notes));
        ChannelConfig channel;
        std::memset(&channel, 0, sizeof channel);
        std::snprintf(channel.portName, sizeof channel.portName, "%s", pty.path().c_str());
        channel.baudRate = 9600;
        channel.byteSize = 8;
        channel.stopBits = 1;
        ASSERT_EQ(driver->OpenChannelLocked(&channel), 1);
        auto scripted = std::make_unique<ScriptedPort>(*clock);
        port = scripted.get();
        driver->SetPort(std::move(scripted));
        ASSERT_EQ(driver->AddDevice("1", nullptr), 1);
    }
    vorlan::DeviceRecord& Relay() { return driver->State().devices[0]; }

    // The frame the next Send packet writes, as hex.
    std::string NextRequest() {
        TestPacket send(0, VORLAN_REG_SEND, 0);
        const size_t before = port->written.size();
        driver->ProcessPacket(&send.packet, 0);
        if (port->written.size() != before + 1) return "";
        return vorlan_test::ToHex(port->written.back());
    }
    std::string TimeSyncRequest() {
        Relay().conversation.pollCount = 300;  // due on the next request
        return NextRequest();
    }
    // A BWYX read that delivers (reads alternate with one that clears).
    void ReadChanges(TestPacket& p) {
        if (Relay().host.bwyxPhase == 1) {
            TestPacket clearing(0, VORLAN_REG_BWYX, 0, {1});
            driver->ProcessPacket(&clearing.packet, 0);
        }
        ASSERT_EQ(driver->ProcessPacket(&p.packet, 0), 1);
    }

    vorlan_test::PtyPair pty;
    FakeClock* clock = nullptr;
    ScriptedPort* port = nullptr;
    std::unique_ptr<vorlan::CRelayDriver> driver;
    std::string notes;

private:
    std::string dir_;
    bool hadTz_ = false;
    std::string oldTz_;
};

// The time synchronisation of 2003-07-15 08:30:05.250 in the relays' UTC+8.
const std::string kSyncAt0830 = "01 81 09 03 20 07 15 08 30 05 50 02";

TEST_F(RelayClockTest, TimeSyncWritesTheRelaysZoneOnAUtcHostAsInShanghai) {
    for (const char* host : {"Asia/Shanghai", "UTC", "America/New_York"}) {
        UseHostZone(host);
        Open("");
        EXPECT_EQ(TimeSyncRequest(), vorlan_test::ToHex(WithCrc(kSyncAt0830))) << host;
    }
}

TEST_F(RelayClockTest, StatusChangeTimesOnAUtcHostAreRelayTimeLessEightHours) {
    UseHostZone("UTC");
    Open("");
    // Points 16 and 18 went to 1 at 2003-07-15 08:30:05.250 relay time.
    port->Answer(50, WithCrc("01 B1 14 00 03 20 07 15 08 30 05 50 02 00 02 00 05 04 10 10 05 00 FF"));
    ASSERT_NE(NextRequest(), "");
    TestPacket p(0, VORLAN_REG_BWYX, 0, {10017, 10019, 5});
    ReadChanges(p);
    const uint64_t relayTime = FileTimeOf(SystemTime{2003, 7, 2, 15, 0, 30, 5, 250});
    EXPECT_EQ(p.Long(0), 1);
    EXPECT_EQ(p.Stamp(0), relayTime);
    EXPECT_EQ(p.Long(1), 1);
    EXPECT_EQ(p.Stamp(1), relayTime);
    EXPECT_EQ(p.Long(2), 0);
    EXPECT_EQ(p.Stamp(2), clock->NowFileTime());  // "now" is UTC now
}

TEST_F(RelayClockTest, ANamedZoneWithDaylightSavingBothWays) {
    UseHostZone("Asia/Shanghai");
    Open("[default]\nrelay_time_zone = Europe/Berlin\n");
    EXPECT_EQ(TimeSyncRequest(), vorlan_test::ToHex(WithCrc("01 81 09 03 20 07 15 02 30 05 50 02")));
    // 02:30 on 31 October 2004 showed twice in Berlin: the first (UTC+2) is taken.
    port->Answer(50, WithCrc("01 B1 14 00 04 20 10 31 02 30 00 00 00 00 02 00 05 04 10 10 05 00 FF"));
    ASSERT_NE(NextRequest(), "");
    TestPacket p(0, VORLAN_REG_BWYX, 0, {10017});
    ReadChanges(p);
    EXPECT_EQ(p.Stamp(0), FileTimeOf(SystemTime{2004, 10, 0, 31, 0, 30, 0, 0}));
}

TEST_F(RelayClockTest, NoSynchronisationWhereAStationClockSetsTheRelays) {
    Open("[default]\ntime_sync = off\n");
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(TimeSyncRequest(), vorlan_test::ToHex(WithCrc("01 83 00"))) << call;
    }
}

TEST_F(RelayClockTest, ABadZoneGivesTheRelaysZoneAndANote) {
    UseHostZone("UTC");
    Open("[default]\nrelay_time_zone = Nowhere/Land\ntime_sync = no\n");
    EXPECT_EQ(TimeSyncRequest(), vorlan_test::ToHex(WithCrc(kSyncAt0830)));
    EXPECT_NE(notes.find("bad value 'Nowhere/Land' for relay_time_zone"), std::string::npos) << notes;
    EXPECT_NE(notes.find("bad value 'no' for time_sync"), std::string::npos) << notes;
}

}  // namespace
