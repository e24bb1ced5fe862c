// SPDX-License-Identifier: Apache-2.0
// The whole packet cycle under the fast profile against the simulated relays
// on a pseudo-terminal, their answers paced at 9600 baud after a 20 ms
// turnaround: every request answered, none timed out.

#ifdef VORLAN_WITH_SIMULATOR

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "component/relay_driver.h"
#include "test_packet.h"
#include "simulator.h"

namespace {

using vorlan_test::TestPacket;

enum : int16_t { kSend = 0 };

TEST(FastLineOnPty, PollCycleAgainstPacedRelaysIsAnsweredThroughout) {
    vorlan_sim::SimConfig config;
    config.seed = 11;
    config.line.paceBaud = 9600;
    config.faults.delayMs = 20;
    for (uint8_t a = 1; a <= 3; ++a) config.relays.push_back(vorlan_sim::DefaultRelay(a, a - 1u));
    vorlan_sim::Simulator sim(config);
    ASSERT_EQ(sim.Open(), "");
    sim.Start();

    char dir[] = "/tmp/vorlan-fast-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string lines = std::string(dir) + "/lines.ini";
    std::ofstream(lines) << "[default]\ntiming = fast\n";
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

    constexpr int kRounds = 15;
    int failed = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (int16_t relay = 0; relay < 3; ++relay) {
            TestPacket send(relay, kSend, 0, {1});
            if (driver.ProcessPacket(&send.packet, 0) != 1) ++failed;
        }
    }
    sim.Stop();

    EXPECT_EQ(failed, 0);
    for (int i = 0; i < 3; ++i) {
        VorlanRelayStats stats{};
        ASSERT_TRUE(driver.LinkStats().Read(i, stats));
        EXPECT_EQ(stats.timeouts, 0u) << "relay " << i + 1;
        EXPECT_GE(stats.answersTaken, static_cast<uint32_t>(kRounds - 1)) << "relay " << i + 1;
    }
}

}  // namespace

#endif  // VORLAN_WITH_SIMULATOR
