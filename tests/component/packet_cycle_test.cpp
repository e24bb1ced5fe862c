// SPDX-License-Identifier: Apache-2.0
// The packet cycle through CRelayDriver: a fake clock, a scripted line and
// three relays at addresses 1, 2 and 3.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "fake_clock.h"
#include "hex.h"
#include "component/relay_driver.h"
#include "scripted_port.h"

namespace {

using vorlan::Request;

using vorlan::CRelayDriver;
using vorlan::DeviceRecord;
using vorlan_test::FakeClock;
using vorlan_test::ScriptedPort;
using vorlan_test::WithCrc;

struct Packet {
    Packet(int16_t deviceIndex, int16_t registerIndex, uint16_t address = 1) {
        std::memset(&packet, 0, sizeof packet);
        std::memset(&item, 0, sizeof item);
        packet.deviceIndex = deviceIndex;
        packet.registerIndex = registerIndex;
        item.address = address;
        node.next = nullptr;
        node.prev = nullptr;
        node.item = &item;
        packet.items.first = &node;
        packet.items.last = &node;
        packet.items.count = 1;
    }
    HostPacket packet;
    HostItemNode node;
    HostItem item;
};

class PacketCycleTest : public ::testing::Test {
protected:
    PacketCycleTest() {
        auto fake = std::make_unique<FakeClock>();
        clock = fake.get();
        driver = std::make_unique<CRelayDriver>(std::move(fake));
        auto scripted = std::make_unique<ScriptedPort>(*clock);
        port = scripted.get();
        driver->SetPort(std::move(scripted));
        int32_t address = 0;
        for (const char* text : {"1", "2", "3"}) EXPECT_EQ(driver->AddDevice(text, &address), 1);
    }

    DeviceRecord& Relay(int i) { return driver->State().devices[static_cast<size_t>(i)]; }
    // The relay a request was written to, by the frame's address byte.
    int RelayAddressedBy(size_t write) {
        const uint8_t address = port->written.at(write).at(0);
        for (int i = 0; i < 3; ++i) {
            if (Relay(i).address == address) return i;
        }
        return -1;
    }

    FakeClock* clock = nullptr;
    ScriptedPort* port = nullptr;
    std::unique_ptr<CRelayDriver> driver;
};

TEST_F(PacketCycleTest, MemoryPacketFailsOnceAfterMoreThanTenUnansweredRequests) {
    Packet yc(1, VORLAN_REG_YC);
    Relay(1).conversation.unansweredCount = 10;
    EXPECT_EQ(driver->ProcessPacket(&yc.packet, 0), 1);
    EXPECT_EQ(Relay(1).conversation.unansweredCount, 10);

    Relay(1).conversation.unansweredCount = 11;
    EXPECT_EQ(driver->ProcessPacket(&yc.packet, 0), 0);
    EXPECT_EQ(Relay(1).conversation.unansweredCount, 0);
    EXPECT_EQ(driver->ProcessPacket(&yc.packet, 1), 1);
    // The items were served from memory both times, without the line; the
    // relay has reported nothing yet.
    EXPECT_EQ(yc.item.quality, VORLAN_QUALITY_WAITING);
    EXPECT_TRUE(port->written.empty());
}

TEST_F(PacketCycleTest, PacketForARelayOutsideTheTableFailsWithoutTouchingAnything) {
    for (int16_t index : {int16_t{32}, int16_t{-1}, int16_t{200}}) {
        Packet send(index, VORLAN_REG_SEND);
        EXPECT_EQ(driver->ProcessPacket(&send.packet, 0), 0);
        EXPECT_EQ(send.item.quality, 0);
    }
    EXPECT_EQ(driver->ProcessPacket(nullptr, 0), 0);
    EXPECT_TRUE(port->written.empty());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Relay(i).conversation.nextCommand, Request::GeneralPoll);
}

TEST_F(PacketCycleTest, FailedExchangeMarksThePacketsRelayAndTheAddressedOne) {
    for (int i = 0; i < 3; ++i) {
        Relay(i).conversation.nextCommand = Request::SettingRead;
        Relay(i).control.ykState = 1;
    }
    // Relay 0's Send packet; nobody answers.
    Packet send(0, VORLAN_REG_SEND);
    EXPECT_EQ(driver->ProcessPacket(&send.packet, 0), 0);
    ASSERT_EQ(port->written.size(), 1u);
    const int addressed = RelayAddressedBy(0);
    ASSERT_GE(addressed, 0);

    for (int i = 0; i < 3; ++i) {
        const bool marked = i == 0 || i == addressed;
        EXPECT_EQ(Relay(i).conversation.nextCommand, marked ? Request::GeneralPoll : Request::SettingRead) << "relay " << i;
        EXPECT_EQ(Relay(i).control.ykState, marked ? 255 : 1) << "relay " << i;
    }
    // The time-out stays recorded; it has no text.
    EXPECT_EQ(driver->ErrorIndex(), 6);
    EXPECT_EQ(driver->GetErrorText(), nullptr);
    // The lock was released: the next packet runs.
    Packet yc(0, VORLAN_REG_YC);
    EXPECT_EQ(driver->ProcessPacket(&yc.packet, 0), 1);
}

TEST_F(PacketCycleTest, AnsweredSendPacketSucceedsAndClearsTheUnansweredCount) {
    driver->State().priorityDevice = 1;  // relay 1 (address 2) is served next
    Relay(1).conversation.unansweredCount = 5;
    port->Answer(50, WithCrc("02 04 00"));
    Packet send(0, VORLAN_REG_SEND);
    EXPECT_EQ(driver->ProcessPacket(&send.packet, 0), 1);
    ASSERT_EQ(port->written.size(), 1u);
    EXPECT_EQ(RelayAddressedBy(0), 1);
    EXPECT_EQ(Relay(1).conversation.unansweredCount, 0);
    EXPECT_EQ(Relay(1).conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(driver->State().currentDevice, 1);
}

// Counts the threads inside the exchange step at once.
class OverlapDriver final : public CRelayDriver {
public:
    using CRelayDriver::CRelayDriver;
    int32_t ExchangeFrame(vorlan::FrameBuffer& frame) override {
        const int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));  // widens the window
        ++calls;
        --inside;
        return CRelayDriver::ExchangeFrame(frame);
    }
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    std::atomic<int> calls{0};
};

TEST(PacketCycleLockTest, TwoThreadsRunTheirPacketsOneAfterTheOther) {
    OverlapDriver driver(std::make_unique<FakeClock>());
    int32_t address = 0;
    ASSERT_EQ(driver.AddDevice("1", &address), 1);
    constexpr int kPackets = 40;
    auto run = [&driver] {
        Packet yc(0, VORLAN_REG_YC);
        for (int i = 0; i < kPackets; ++i) driver.ProcessPacket(&yc.packet, 0);
    };
    std::thread first(run);
    std::thread second(run);
    first.join();
    second.join();
    EXPECT_EQ(driver.calls.load(), 2 * kPackets);
    EXPECT_EQ(driver.most.load(), 1);
}

TEST_F(PacketCycleTest, ProbeOfAnUnregisteredAddressFailsWithoutWriting) {
    EXPECT_EQ(driver->ProbeDevice(0, 9, 0), 0);
    EXPECT_TRUE(port->written.empty());
}

// One record per address: a second record of the same address would never
// get an answer of its own. An empty text is address 0.
TEST_F(PacketCycleTest, RegistrationRefusesRepeatedAddresses) {
    int32_t address = -1;
    EXPECT_EQ(driver->AddDevice("1", &address), 0);  // relay 1 is registered
    EXPECT_EQ(driver->AddDevice("01", &address), 0);
    EXPECT_EQ(address, -1);
    EXPECT_EQ(driver->State().deviceCount, 3);
    EXPECT_EQ(driver->AddDevice("", &address), 1);
    EXPECT_EQ(address, 0);
    EXPECT_EQ(driver->AddDevice("0", &address), 0);
}

TEST_F(PacketCycleTest, RegistrationStopsAtThirtyTwoRelays) {
    int32_t address = -1;
    for (int i = 3; i < 32; ++i) ASSERT_EQ(driver->AddDevice(std::to_string(i + 1).c_str(), &address), 1);
    EXPECT_EQ(driver->State().deviceCount, 32);
    address = -1;
    EXPECT_EQ(driver->AddDevice("0", &address), 0);
    EXPECT_EQ(address, -1);
    EXPECT_EQ(driver->State().deviceCount, 32);
    EXPECT_EQ(Relay(31).index, 31);
}

}  // namespace
