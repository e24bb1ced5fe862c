// SPDX-License-Identifier: Apache-2.0
// The steady-state packet cycle (Send with an answer, YC, YX and YM reads)
// never touches the heap: counted with a replaced global operator new.

#include <gtest/gtest.h>

#include <memory>

#include "counting_allocator.h"
#include "fake_clock.h"
#include "hex.h"
#include "component/relay_driver.h"
#include "memory_port.h"
#include "test_packet.h"

namespace {

using vorlan_test::TestPacket;
using vorlan_test::WithCrc;


TEST(SteadyState, PacketCallsAllocateNothing) {
    auto clock = std::make_unique<vorlan_test::FakeClock>();
    auto driver = std::make_unique<vorlan::CRelayDriver>(std::move(clock));
    auto port = std::make_unique<vorlan_test::MemoryPort>();
    vorlan_test::MemoryPort* wire = port.get();
    wire->AnswerFor(1, WithCrc("01 06 04 01 00 10 27"));
    wire->AnswerFor(2, WithCrc("02 06 04 02 03 00 81"));
    driver->SetPort(std::move(port));
    int32_t address = 0;
    ASSERT_EQ(driver->AddDevice("1", &address), 1);
    ASSERT_EQ(driver->AddDevice("2", &address), 1);

    TestPacket send(0, VORLAN_REG_SEND, 0, {1});
    TestPacket yc(0, VORLAN_REG_YC, 0);
    TestPacket yx(1, VORLAN_REG_YX, 0);
    TestPacket ym(0, VORLAN_REG_YM, 0);
    for (uint16_t a = 1; a <= 64; ++a) yc.Add(a);
    for (uint16_t a = 1; a <= 512; ++a) yx.Add(a);
    for (uint16_t a = 1; a <= 20; ++a) ym.Add(a);
    TestPacket* packets[] = {&send, &yc, &yx, &ym};

    // The first calls may set things up (the database attempt, for one).
    for (int round = 0; round < 4; ++round) {
        for (TestPacket* p : packets) driver->ProcessPacket(&p->packet, 0);
    }

    const long before = vorlan_test::AllocationCount();
    for (int round = 0; round < 50; ++round) {
        for (TestPacket* p : packets) driver->ProcessPacket(&p->packet, 0);
    }
    EXPECT_EQ(vorlan_test::AllocationCount() - before, 0);
    // The cycle did its work: requests went out and the answers landed.
    EXPECT_GE(wire->writes, 50u);
    EXPECT_EQ(yc.Float(0), 10000.0f);
    EXPECT_EQ(yc.item(0).quality, 192);
    EXPECT_EQ(yx.Long(24), 1);
    EXPECT_EQ(yx.Long(25), 0);
    EXPECT_EQ(yx.item(24).quality, 192);
}

}  // namespace
