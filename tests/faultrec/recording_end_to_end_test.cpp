// SPDX-License-Identifier: Apache-2.0
// A fault recording listed and fetched through the host's registers, with a
// relay on a real pseudo-terminal, and its files written.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "faultrec/recording_frames.h"
#include "faultrec/recording_service.h"
#include "component/relay_driver.h"
#include "support/hex.h"
#include "support/pty_pair.h"
#include "vorlan/driver.h"

namespace faultrec_test {
namespace {

constexpr uint8_t kAddress = 5;
constexpr uint32_t kRecording = 42;
constexpr uint16_t kLastSample = 12;  // the relay's count; it sends samples 0..12

// Plays the relay: the list (recordings 41 and 42), blocks of up to five
// samples from the one asked for, and 0x04 (nothing new) to anything else.
class RelayPeer {
public:
    explicit RelayPeer(vorlan_test::PtyPair& pty) : pty_(pty), thread_([this] { Run(); }) {}
    ~RelayPeer() {
        stop_ = true;
        thread_.join();
    }
    int blockRequests() const { return blockRequests_; }

private:
    void Run() {
        std::vector<uint8_t> pending;
        while (!stop_) {
            const auto got = pty_.ReadPeer(20);
            pending.insert(pending.end(), got.begin(), got.end());
            while (pending.size() >= 3 && pending.size() >= pending[2] + 5u) {
                const std::vector<uint8_t> request(pending.begin(), pending.begin() + pending[2] + 5);
                pending.erase(pending.begin(), pending.begin() + pending[2] + 5);
                Answer(request);
            }
        }
    }

    void Answer(const std::vector<uint8_t>& request) {
        if (request[0] != kAddress) return;
        if (request[1] == 0x99) {
            pty_.WritePeer(ListAnswer(kAddress, {{41, 7, 250000, 1000, 30}, {kRecording, 5, 1234, 1200, kLastSample}}));
        } else if (request[1] == 0x9B && request.size() == 12) {
            ++blockRequests_;
            const uint16_t first = static_cast<uint16_t>(request[7] | request[8] << 8);
            const uint16_t last = first + 4 < kLastSample ? first + 4 : kLastSample;
            pty_.WritePeer(first <= last ? BlockAnswer(kAddress, first, last)
                                         : vorlan_test::MakeFrame(kAddress, 0xCB, {}));
        } else {
            pty_.WritePeer(vorlan_test::MakeFrame(kAddress, 0x04, {}));
        }
    }

    vorlan_test::PtyPair& pty_;
    std::atomic<bool> stop_{false};
    std::atomic<int> blockRequests_{0};
    std::thread thread_;
};

class HostPacketWithItems {
public:
    HostPacketWithItems(int16_t reg, int16_t direction, int count) : items_(static_cast<size_t>(count)),
                                                                     nodes_(static_cast<size_t>(count)) {
        std::memset(&packet, 0, sizeof packet);
        packet.deviceIndex = 0;
        packet.registerIndex = reg;
        packet.direction = direction;
        for (size_t i = 0; i < items_.size(); ++i) {
            std::memset(&items_[i], 0, sizeof items_[i]);
            items_[i].address = static_cast<uint16_t>(i + 1);
            nodes_[i].item = &items_[i];
            nodes_[i].prev = i > 0 ? &nodes_[i - 1] : nullptr;
            nodes_[i].next = i + 1 < nodes_.size() ? &nodes_[i + 1] : nullptr;
        }
        packet.items.first = nodes_.empty() ? nullptr : &nodes_.front();
        packet.items.last = nodes_.empty() ? nullptr : &nodes_.back();
        packet.items.count = count;
    }
    int32_t Long(size_t i) const {
        int32_t v;
        std::memcpy(&v, items_[i].value, sizeof v);
        return v;
    }
    void SetLong(size_t i, int32_t v) { std::memcpy(items_[i].value, &v, sizeof v); }
    std::string AtomText(size_t i) const {
        uint16_t atom;
        std::memcpy(&atom, items_[i].value, sizeof atom);
        char text[64] = {};
        VorlanGetAtomName(atom, text, sizeof text);
        return text;
    }

    HostPacket packet;

private:
    std::vector<HostItem> items_;
    std::vector<HostItemNode> nodes_;
};

TEST(RecordingEndToEnd, ListFetchAndWriteThroughTheRegisters) {
    TempDir dir;
    dir.Write("通道配置文件.txt", "STATION\n");
    // Given without its trailing '/'; the driver adds it.
    const std::string dirName = dir.path().substr(0, dir.path().size() - 1);
    ::setenv("VORLAN_RECORDING_DIR", dirName.c_str(), 1);
    ASSERT_EQ(vorlan::RecordingDir(), dir.path()) << "recording directory fixed before this test";

    vorlan_test::PtyPair pty;
    vorlan::CRelayDriver driver;
    ChannelConfig channel;
    std::memset(&channel, 0, sizeof channel);
    std::strncpy(channel.portName, pty.path().c_str(), sizeof channel.portName - 1);
    channel.baudRate = 9600;
    channel.byteSize = 8;
    channel.stopBits = 0;
    channel.replyTimeout = 1000;
    ASSERT_EQ(driver.OpenChannelLocked(&channel), 1);
    int32_t address = 0;
    ASSERT_EQ(driver.AddDevice("5", &address), 1);
    RelayPeer peer(pty);
    const vorlan::DeviceRecord& relay = driver.State().devices[0];

    auto writeLong = [&](int16_t reg, int32_t value) {
        HostPacketWithItems p(reg, 1, 1);
        p.SetLong(0, value);
        driver.ProcessPacket(&p.packet, 1);
    };
    auto send = [&] {
        HostPacketWithItems p(VORLAN_REG_SEND, 0, 1);
        return driver.ProcessPacket(&p.packet, 0);
    };

    writeLong(VORLAN_REG_LBSTART, -1);
    EXPECT_EQ(send(), 1);

    HostPacketWithItems count(VORLAN_REG_LBCOUNT, 0, 1);
    driver.ProcessPacket(&count.packet, 0);
    EXPECT_EQ(count.Long(0) & 0xFF, 2);
    HostPacketWithItems ids(VORLAN_REG_LBID, 0, 4);
    driver.ProcessPacket(&ids.packet, 0);
    EXPECT_EQ(ids.Long(0), 41);
    EXPECT_EQ(ids.Long(1), 42);
    EXPECT_EQ(ids.Long(2), -2);
    HostPacketWithItems times(VORLAN_REG_LBTIME, 0, 2);
    driver.ProcessPacket(&times.packet, 0);
    const std::string listTime = times.AtomText(1);
    EXPECT_EQ(listTime.size(), 14u);
    EXPECT_EQ(listTime, relay.recording.lbTime[1]);

    writeLong(VORLAN_REG_LBSTART, static_cast<int32_t>(kRecording));
    for (int i = 0; i < 8 && relay.recording.lbFilesWritten == 0; ++i) send();
    ASSERT_EQ(relay.recording.lbFilesWritten, 1);
    EXPECT_EQ(peer.blockRequests(), 3);

    HostPacketWithItems start(VORLAN_REG_LBSTART, 0, 1);
    driver.ProcessPacket(&start.packet, 0);
    EXPECT_EQ(start.Long(0), -2);

    const std::string cfg = dir.Read(listTime + ".CFG");
    EXPECT_EQ(cfg.substr(0, 20), "STATION,5\r\n18,16A,2D");
    EXPECT_NE(cfg.find("\r\n1200,12\r\n"), std::string::npos);
    EXPECT_NE(cfg.find(":05.001234\r\n"), std::string::npos);
    std::string expectedData;
    for (uint16_t k = 0; k < kLastSample; ++k) {
        const Sample s = PatternSample(k);
        expectedData += std::to_string(k + 1) + "," + std::to_string(s.time);
        for (int16_t a : s.analog) expectedData += "," + std::to_string(a);
        expectedData += "," + std::to_string(s.digital[0]) + "," + std::to_string(s.digital[1]) + "\r\n";
    }
    EXPECT_EQ(dir.Read(listTime + ".DAT"), expectedData);
    driver.CloseChannelLocked();
}

}  // namespace
}  // namespace faultrec_test
