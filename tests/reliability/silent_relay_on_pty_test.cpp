// A relay that falls silent on a fast-profile line and comes back, against
// the paced simulator on a pseudo-terminal: it is backed off while the live
// relays keep answering, the statistics show it, and its first answer puts
// it back into the rotation.

#ifdef VORLAN_WITH_SIMULATOR

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "component/relay_driver.h"
#include "simulator.h"
#include "test_packet.h"

namespace {

using vorlan_test::TestPacket;

VorlanRelayStats StatsOf(vorlan::CRelayDriver& driver, int index) {
    VorlanRelayStats s{};
    EXPECT_TRUE(driver.LinkStats().Read(index, s, driver.GetClock().TickMs()));
    return s;
}

TEST(SilentRelayOnPty, FallsSilentIsBackedOffAndComesBack) {
    vorlan_sim::SimConfig config;
    config.seed = 5;
    config.line.paceBaud = 9600;
    config.faults.delayMs = 20;
    for (uint8_t a = 1; a <= 3; ++a) config.relays.push_back(vorlan_sim::DefaultRelay(a, a - 1u));
    vorlan_sim::Simulator sim(config);
    ASSERT_EQ(sim.Open(), "");
    sim.Start();

    char dir[] = "/tmp/vorlan-silent-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string lines = std::string(dir) + "/lines.ini";
    std::ofstream(lines) << "[default]\ntiming = fast\nsilent_retry_max_s = 2\n";
    setenv("VORLAN_LINES", lines.c_str(), 1);
    vorlan::CRelayDriver driver;
    ChannelConfig channel;
    std::memset(&channel, 0, sizeof channel);
    std::snprintf(channel.portName, sizeof channel.portName, "%s", sim.path().c_str());
    channel.baudRate = 9600;
    channel.byteSize = 8;
    channel.stopBits = 1;
    const int32_t opened = driver.OpenChannelLocked(&channel);
    unsetenv("VORLAN_LINES");
    unlink(lines.c_str());
    rmdir(dir);
    ASSERT_EQ(opened, 1);
    for (const char* a : {"1", "2", "3"}) ASSERT_EQ(driver.AddDevice(a, nullptr), 1);
    TestPacket send(0, 0, 0, {1});
    for (int i = 0; i < 9; ++i) driver.ProcessPacket(&send.packet, 0);
    EXPECT_EQ(StatsOf(driver, 2).inBackoff, 0u);

    // Relay 3 falls silent: after three time-outs it is backed off.
    sim.relays().relay(2).SwitchOff(true);
    int sends = 0;
    while (StatsOf(driver, 2).inBackoff == 0 && sends < 40) {
        driver.ProcessPacket(&send.packet, 0);
        ++sends;
    }
    VorlanRelayStats s = StatsOf(driver, 2);
    ASSERT_EQ(s.inBackoff, 1u);
    EXPECT_EQ(s.retryIntervalMs, 1000u);
    EXPECT_LE(s.nextRetryInMs, 1000u);
    EXPECT_GE(s.consecutiveFailures, 3u);

    // The live relays take the line meanwhile: within 0.9 s (before the
    // retry) only they are asked, and they answer.
    const uint32_t timeouts = s.timeouts;
    const uint32_t live0 = StatsOf(driver, 0).answersTaken + StatsOf(driver, 1).answersTaken;
    for (int i = 0; i < 10; ++i) driver.ProcessPacket(&send.packet, 0);
    EXPECT_EQ(StatsOf(driver, 2).timeouts, timeouts);
    EXPECT_GE(StatsOf(driver, 0).answersTaken + StatsOf(driver, 1).answersTaken, live0 + 9);

    // It comes back: answered at its next retry, then in turn again.
    sim.relays().relay(2).SwitchOff(false);
    const uint32_t answered = StatsOf(driver, 2).answersTaken;
    sends = 0;
    while (StatsOf(driver, 2).answersTaken == answered && sends < 200) {
        driver.ProcessPacket(&send.packet, 0);
        ++sends;
    }
    s = StatsOf(driver, 2);
    EXPECT_GT(s.answersTaken, answered);
    EXPECT_EQ(s.inBackoff, 0u);
    EXPECT_EQ(s.retryIntervalMs, 0u);
    for (int i = 0; i < 6; ++i) driver.ProcessPacket(&send.packet, 0);
    EXPECT_GE(StatsOf(driver, 2).answersTaken, s.answersTaken + 2);
    sim.Stop();
}

}  // namespace

#endif  // VORLAN_WITH_SIMULATOR
