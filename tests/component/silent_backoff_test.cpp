// Silent relays on the packet cycle: a fake clock, a scripted line and three
// relays at addresses 1, 2 and 3, of which the silent ones never answer.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "component/relay_driver.h"
#include "link/fast_exchange.h"
#include "fake_clock.h"
#include "hex.h"
#include "protocol/setting_conversation.h"
#include "scripted_port.h"

namespace {

using vorlan::CRelayDriver;
using vorlan::DeviceRecord;
using vorlan::Request;
using vorlan_test::FakeClock;
using vorlan_test::ScriptedPort;
using vorlan_test::WithCrc;

struct SendPacket {
    SendPacket() {
        std::memset(&packet, 0, sizeof packet);
        std::memset(&item, 0, sizeof item);
        packet.deviceIndex = 0;
        packet.registerIndex = VORLAN_REG_SEND;
        item.address = 1;
        node.item = &item;
        packet.items.first = &node;
        packet.items.last = &node;
        packet.items.count = 1;
    }
    HostPacket packet;
    HostItemNode node;
    HostItem item;
};

// The relays' plain answer to a poll: nothing to report.
std::vector<uint8_t> Idle(uint8_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X 04 00", address);
    return WithCrc(text);
}

class SilentBackoffTest : public ::testing::Test {
protected:
    SilentBackoffTest() {
        auto fake = std::make_unique<FakeClock>();
        clock = fake.get();
        driver = std::make_unique<CRelayDriver>(std::move(fake));
        auto scripted = std::make_unique<ScriptedPort>(*clock);
        port = scripted.get();
        port->respond = [this](const std::vector<uint8_t>& request) {
            const uint8_t address = request.at(0);
            return silent.count(address) != 0 ? std::vector<uint8_t>{} : Idle(address);
        };
        driver->SetPort(std::move(scripted));
        int32_t address = 0;
        for (const char* text : {"1", "2", "3"}) EXPECT_EQ(driver->AddDevice(text, &address), 1);
        driver->State().silentBackoff = true;
        driver->State().silentRetryMaxMs = 10'000;
    }

    DeviceRecord& Relay(int i) { return driver->State().devices[static_cast<size_t>(i)]; }

    // One Send; returns the address written to (0: nothing written).
    uint8_t Send() {
        const size_t before = port->written.size();
        driver->ProcessPacket(&send.packet, 0);
        return port->written.size() > before ? port->written.back().at(0) : 0;
    }

    // Sends until relay 3 has failed three times and is backed off; returns
    // the tick the third failure ended at.
    uint32_t SilenceRelay3() {
        silent.insert(3);
        for (int i = 0; i < 20 && !Relay(2).conversation.backedOff; ++i) Send();
        EXPECT_TRUE(Relay(2).conversation.backedOff);
        return clock->TickMs();
    }

    VorlanRelayStats Stats(int index) {
        VorlanRelayStats s{};
        EXPECT_TRUE(driver->LinkStats().Read(index, s, clock->TickMs()));
        return s;
    }

    FakeClock* clock = nullptr;
    ScriptedPort* port = nullptr;
    std::unique_ptr<CRelayDriver> driver;
    std::set<uint8_t> silent;
    SendPacket send;
};

TEST_F(SilentBackoffTest, RetriesAtDoublingIntervalsUpToTheMaximum) {
    uint32_t failedAt = SilenceRelay3();
    // A due retry goes out at the next Send: at most one live exchange late.
    const uint32_t slack = 500;
    std::vector<uint32_t> gaps;
    std::vector<uint32_t> shown;
    while (gaps.size() < 6) {
        const uint32_t before = clock->TickMs();
        const uint8_t address = Send();
        ASSERT_NE(address, 0);
        if (address != 3) continue;
        gaps.push_back(before - failedAt);
        failedAt = clock->TickMs();
        const VorlanRelayStats s = Stats(2);
        EXPECT_EQ(s.inBackoff, 1u);
        shown.push_back(s.retryIntervalMs);
        EXPECT_GT(s.nextRetryInMs, 0u);
        EXPECT_LE(s.nextRetryInMs, s.retryIntervalMs);
    }
    const uint32_t expected[] = {1000, 2000, 4000, 8000, 10000, 10000};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_GE(gaps[i], expected[i]) << "retry " << i;
        EXPECT_LT(gaps[i], expected[i] + slack) << "retry " << i;
    }
    EXPECT_EQ(shown, (std::vector<uint32_t>{2000, 4000, 8000, 10000, 10000, 10000}));
    // The live relays were not held back meanwhile.
    EXPECT_EQ(Stats(0).inBackoff, 0u);
    EXPECT_EQ(Stats(0).consecutiveFailures, 0u);
}

TEST_F(SilentBackoffTest, DueRetryGoesOutOfTurnAndTheRotationResumes) {
    int32_t address = 0;
    for (const char* text : {"4", "5", "6", "7", "8"}) ASSERT_EQ(driver->AddDevice(text, &address), 1);
    silent.insert(2);
    for (int i = 0; i < 40 && !Relay(1).conversation.backedOff; ++i) Send();
    ASSERT_TRUE(Relay(1).conversation.backedOff);
    std::vector<uint8_t> live;
    int retries = 0;
    while (retries < 4) {
        const uint32_t before = clock->TickMs();
        const uint32_t due = Relay(1).conversation.retryDueTick;
        const uint8_t sent = Send();
        if (sent != 2) {
            live.push_back(sent);
            continue;
        }
        ++retries;
        // Sent once due, at most one live exchange late: not held until its
        // turn comes round the eight relays.
        EXPECT_GE(static_cast<int32_t>(before - due), 0);
        EXPECT_LT(before - due, 500u);
    }
    // The live relays keep their order: 1, 3, 4, ..., 8, 1, 3, ...
    const std::vector<uint8_t> cycle{1, 3, 4, 5, 6, 7, 8};
    size_t at = 0;
    while (cycle[at] != live.front()) ++at;
    for (size_t i = 0; i < live.size(); ++i) ASSERT_EQ(live[i], cycle[(at + i) % cycle.size()]) << "live send " << i;
}

TEST_F(SilentBackoffTest, FirstAnswerPutsTheRelayStraightBack) {
    SilenceRelay3();
    silent.clear();
    // The retry is answered: from then on relay 3 takes every third turn.
    while (Send() != 3) {
    }
    EXPECT_FALSE(Relay(2).conversation.backedOff);
    EXPECT_EQ(Stats(2).inBackoff, 0u);
    EXPECT_EQ(Stats(2).retryIntervalMs, 0u);
    const uint8_t first = Send();
    for (int i = 1; i < 9; ++i) EXPECT_EQ(Send(), (first - 1 + i) % 3 + 1) << "send " << i;
}

TEST_F(SilentBackoffTest, HostWorkForABackedOffRelayGoesOutAtItsTurn) {
    SilenceRelay3();
    // A setting read goes out within one round, long before the retry is due.
    const uint32_t asked = clock->TickMs();
    vorlan::AskSettingRead(Relay(2), 1);
    uint8_t address = 0;
    uint32_t written = 0;
    for (int i = 0; i < 3 && address != 3; ++i) {
        written = clock->TickMs();
        address = Send();
    }
    EXPECT_EQ(address, 3);
    EXPECT_EQ(port->written.back().at(1), vorlan::Code(Request::SettingRead));
    EXPECT_LT(written - asked, 1000u);

    // A control goes out at the very next Send.
    Relay(2).control.step = vorlan::ControlStep::SelectWanted;
    Relay(2).control.ykState = 1;
    Relay(2).conversation.nextCommand = Request::ControlSelect;
    driver->State().priorityDevice = 2;
    EXPECT_EQ(Send(), 3);
    EXPECT_EQ(port->written.back().at(1), vorlan::Code(Request::ControlSelect));
}

TEST_F(SilentBackoffTest, ProbeAlwaysGoesOutAndAnAnswerEndsTheBackoff) {
    SilenceRelay3();
    const size_t before = port->written.size();
    EXPECT_EQ(driver->ProbeDevice(0, 3, 0), 0);
    EXPECT_EQ(port->written.size(), before + 1);
    EXPECT_TRUE(Relay(2).conversation.backedOff);
    silent.clear();
    EXPECT_EQ(driver->ProbeDevice(0, 3, 0), 1);
    EXPECT_FALSE(Relay(2).conversation.backedOff);
}

TEST_F(SilentBackoffTest, OffLeavesTheRotationAsItIs) {
    driver->State().silentBackoff = false;
    silent.insert(3);
    const uint8_t first = Send();
    for (int i = 1; i < 30; ++i) EXPECT_EQ(Send(), (first - 1 + i) % 3 + 1) << "send " << i;
    EXPECT_FALSE(Relay(2).conversation.backedOff);
    EXPECT_EQ(Stats(2).inBackoff, 0u);
}

TEST_F(SilentBackoffTest, AllSilentStillSendsOnEverySendSoonestDueFirst) {
    silent = {1, 2, 3};
    for (int i = 0; i < 9; ++i) Send();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Relay(i).conversation.backedOff) << i;
    // Nothing is due within a second; each Send still writes, to the relay
    // whose retry comes first, so the host is neither stalled nor spun.
    for (int i = 0; i < 6; ++i) EXPECT_NE(Send(), 0);
}

// Fast profile: a retry asks only whether the relay is back, so it waits for
// the first byte twice the relay's slowest answer start plus 50 ms (its
// line's when it never answered), not the 450 ms answer time-out, and every
// eighth retry waits in full; host work keeps the full wait.
TEST_F(SilentBackoffTest, FastRetriesWaitBrieflyEveryEighthAndHostWorkInFull) {
    vorlan::FastTiming timing;  // 450 ms time-out, 9600 baud
    auto scripted = std::make_unique<ScriptedPort>(*clock);
    port = scripted.get();
    port->respondAfterMs = 40;
    port->respond = [this](const std::vector<uint8_t>& request) {
        return silent.count(request.at(0)) != 0 ? std::vector<uint8_t>{} : Idle(request.at(0));
    };
    driver->SetPort(std::move(scripted), &timing);
    for (int i = 0; i < 6; ++i) Send();  // every relay answers: their answers start about 40 ms after
    const int32_t slowest = Relay(2).conversation.slowestAnswerDelayMs;
    EXPECT_GT(slowest, 20);
    EXPECT_LE(slowest, 40);
    const uint32_t brief = 2u * static_cast<uint32_t>(slowest) + 50u;

    // How long relay `address`'s next exchange took.
    auto exchangeMs = [&](uint8_t address) {
        for (;;) {
            const uint32_t before = clock->TickMs();
            if (Send() == address) return clock->TickMs() - before;
        }
    };
    // Relay 3 answered before; relay 4 never did and is measured by the line.
    int32_t address = 0;
    ASSERT_EQ(driver->AddDevice("4", &address), 1);
    silent = {3, 4};
    EXPECT_GE(exchangeMs(3), 450u);
    while (!Relay(2).conversation.backedOff || !Relay(3).conversation.backedOff) Send();
    // Each relay's retries in turn: brief ones, and every eighth in full.
    std::map<uint8_t, std::vector<uint32_t>> took;
    while (took[3].size() < 24 || took[4].size() < 24) {
        const uint32_t before = clock->TickMs();
        const uint8_t sent = Send();
        if (sent == 3 || sent == 4) took[sent].push_back(clock->TickMs() - before);
    }
    for (uint8_t relay : {3, 4}) {
        std::vector<size_t> full;
        for (size_t i = 0; i < took[relay].size(); ++i) {
            if (took[relay][i] >= 450u) {
                full.push_back(i);
            } else {
                EXPECT_GE(took[relay][i], brief) << "relay " << int{relay} << " retry " << i;
                EXPECT_LT(took[relay][i], brief + 20) << "relay " << int{relay} << " retry " << i;
            }
        }
        ASSERT_EQ(full.size(), 3u) << "relay " << int{relay};
        EXPECT_EQ(full[1] - full[0], 8u);
        EXPECT_EQ(full[2] - full[1], 8u);
    }

    Relay(2).control.step = vorlan::ControlStep::SelectWanted;
    Relay(2).control.ykState = 1;
    Relay(2).conversation.nextCommand = Request::ControlSelect;
    driver->State().priorityDevice = 2;
    EXPECT_GE(exchangeMs(3), 450u);
    EXPECT_EQ(port->written.back().at(1), vorlan::Code(Request::ControlSelect));

    // Back within the brief wait: the retry is answered and relay 3 returns.
    silent.erase(3);
    while (Relay(2).conversation.backedOff) Send();
    EXPECT_EQ(Relay(2).conversation.failedExchanges, 0);
}

TEST_F(SilentBackoffTest, ScheduleSurvivesTheTickWrap) {
    clock->SetTick(0xFFFF'F000u);
    uint32_t failedAt = SilenceRelay3();
    uint8_t address = 0;
    uint32_t before = 0;
    while (address != 3) {
        before = clock->TickMs();
        address = Send();
    }
    const uint32_t gap = before - failedAt;
    EXPECT_GE(gap, 1000u);
    EXPECT_LT(gap, 2000u);
}

}  // namespace
