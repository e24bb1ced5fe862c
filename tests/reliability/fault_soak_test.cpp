// SPDX-License-Identifier: Apache-2.0
// The packet cycle against three simulated relays whose answers are dropped,
// spoiled, misaddressed, split or wrapped in noise, on a fake clock so that
// thousands of exchanges take moments. Afterwards the host must read what
// the relays last reported intact, and every relay must have been asked
// again soon after each spoiled answer.

#ifdef VORLAN_WITH_SIMULATOR

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "component/relay_driver.h"
#include "test_packet.h"
#include "simulated_line_port.h"
#include "soak_ledger.h"

namespace {

using vorlan_test::SoakLedger;
using vorlan_test::TestPacket;

struct SoakLine {
    explicit SoakLine(uint64_t seed)
        : relays(Configs(), seed),
          faults(vorlan_test::SoakFaultRates(), seed, relays.Addresses()),
          ledger(relays, faults) {}

    static std::vector<vorlan_sim::RelayConfig> Configs() {
        std::vector<vorlan_sim::RelayConfig> configs;
        for (uint8_t a = 1; a <= 3; ++a) configs.push_back(vorlan_sim::DefaultRelay(a, a - 1u));
        return configs;
    }

    vorlan_sim::RelayLine relays;
    vorlan_sim::FaultInjector faults;
    SoakLedger ledger;
};

// Reads every value register of every relay and checks it against the ledger.
void ExpectHostAgrees(vorlan::CRelayDriver& driver, const SoakLedger& ledger) {
    std::vector<std::string> wrong;
    for (int16_t device = 0; device < 3; ++device) {
        const uint8_t address = static_cast<uint8_t>(device + 1);
        TestPacket yc(device, VORLAN_REG_YC, 0);
        TestPacket yx(device, VORLAN_REG_YX, 0);
        TestPacket ym(device, VORLAN_REG_YM, 0);
        for (uint16_t a = 1; a <= 64; ++a) yc.Add(a);
        for (uint16_t a = 1; a <= 512; ++a) yx.Add(a);
        for (uint16_t a = 1; a <= 20; ++a) ym.Add(a);
        ASSERT_EQ(driver.ProcessPacket(&yc.packet, 0), 1);
        ASSERT_EQ(driver.ProcessPacket(&yx.packet, 0), 1);
        ASSERT_EQ(driver.ProcessPacket(&ym.packet, 0), 1);
        for (int k = 0; k < 64; ++k) {
            const std::string e = ledger.Check(address, SoakLedger::kYc, k,
                                               static_cast<int64_t>(yc.Float(static_cast<size_t>(k))));
            if (!e.empty()) wrong.push_back(e);
        }
        for (int g = 0; g < 64; ++g) {
            int64_t byte = 0;
            for (int j = 0; j < 8; ++j) byte |= int64_t{yx.Long(static_cast<size_t>(8 * g + j)) != 0} << j;
            const std::string e = ledger.Check(address, SoakLedger::kYx, g, byte);
            if (!e.empty()) wrong.push_back(e);
        }
        for (int k = 0; k < 20; ++k) {
            const std::string e = ledger.Check(address, SoakLedger::kYm, k, ym.Long(static_cast<size_t>(k)));
            if (!e.empty()) wrong.push_back(e);
        }
    }
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " values differ, first: " << wrong.front();
}

TEST(FaultSoak, NothingIntactIsLostAndEveryRelayIsAskedAgain) {
    for (uint64_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        SoakLine line(seed);
        auto clock = std::make_unique<vorlan_test::FakeClock>();
        vorlan_test::FakeClock& fake = *clock;
        vorlan::CRelayDriver driver(std::move(clock));
        driver.SetPort(std::make_unique<vorlan_test::SimulatedLinePort>(fake, line.ledger));
        for (const char* a : {"1", "2", "3"}) ASSERT_EQ(driver.AddDevice(a, nullptr), 1);

        int answered = 0;
        while (line.ledger.requests() < 2000) {
            TestPacket send(0, VORLAN_REG_SEND, 0, {1});
            answered += driver.ProcessPacket(&send.packet, 0);
        }
        const vorlan_sim::FaultCounts& counts = line.faults.counts();
        EXPECT_EQ(line.ledger.badRequests(), 0u);
        EXPECT_GT(counts.dropped, 0u);
        EXPECT_GT(counts.badCrc, 0u);
        EXPECT_GT(counts.wrongAddress, 0u);
        EXPECT_GT(counts.split + counts.garbage, 0u);
        EXPECT_GT(answered, 1500);
        // Every measurement, status group and counter of the three relays was reported.
        size_t points = 0;
        for (const auto& c : SoakLine::Configs()) points += static_cast<size_t>(c.measurements + c.statusGroups + c.counters);
        EXPECT_EQ(line.ledger.CheckedPoints(), points);
        // Three relays in turn: after a spoiled answer the relay is asked
        // again once the other two have had their turn (or a follow-up each).
        EXPECT_LE(line.ledger.LongestWaitAfterFault(10), 4u);
        ExpectHostAgrees(driver, line.ledger);
        RecordProperty("seed" + std::to_string(seed), std::to_string(answered) + " answered of " +
                       std::to_string(line.ledger.requests()) + ", " +
                       std::to_string(line.ledger.faults()) + " spoiled, longest wait " +
                       std::to_string(line.ledger.LongestWaitAfterFault(10)));
    }
}

}  // namespace

#endif  // VORLAN_WITH_SIMULATOR
