// One component used by four host threads at once through the loaded
// library: two poll with Send packets, one probes, one reads registers. The
// relays on the pseudo-terminal check that one exchange ends before the next
// request begins; ThreadSanitizer checks the rest.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "exclusive_line_peer.h"
#include "loaded_component.h"
#include "test_packet.h"
#include "pty_pair.h"

namespace {

using vorlan_test::TestPacket;

TEST(Concurrency, FourHostThreadsShareOneComponentAndTheLineSeesOneExchangeAtATime) {
    vorlan_test::PtyPair pty;
    vorlan_test::ExclusiveLinePeer peer(pty);
    vorlan_test::LoadedComponent host;
    ASSERT_TRUE(host.ok()) << dlerror();
    ASSERT_EQ(host.Open(pty.path()), 1);
    ASSERT_EQ(host.Add("1"), 1);
    ASSERT_EQ(host.Add("2"), 1);

    constexpr int kSendsPerThread = 4;
    constexpr int kProbes = 4;
    std::atomic<int> sendsAnswered{0};
    std::atomic<int> probesAnswered{0};
    std::atomic<int> pollers{3};
    std::atomic<int> reads{0};
    std::atomic<int> readsGood{0};

    auto poll = [&](int16_t device) {
        for (int i = 0; i < kSendsPerThread; ++i) {
            TestPacket send(device, VORLAN_REG_SEND, 0, {1});
            sendsAnswered += host.Read(send.packet);
        }
        --pollers;
    };
    std::thread first(poll, int16_t{0});
    std::thread second(poll, int16_t{1});
    std::thread prober([&] {
        for (int i = 0; i < kProbes; ++i) probesAnswered += host.Probe(1 + i % 2);
        --pollers;
    });
    std::thread reader([&] {
        while (pollers.load() > 0) {
            TestPacket yc(static_cast<int16_t>(reads % 2), VORLAN_REG_YC, 0, {1, 2});
            TestPacket yx(static_cast<int16_t>(reads % 2), VORLAN_REG_YX, 0, {1, 9});
            if (host.Read(yc.packet) == 1 && host.Read(yx.packet) == 1 &&
                yc.item(0).quality != VORLAN_QUALITY_LAST_KNOWN &&
                yx.item(1).quality != VORLAN_QUALITY_LAST_KNOWN) {
                ++readsGood;
            }
            ++reads;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    first.join();
    second.join();
    prober.join();
    reader.join();
    peer.Stop();

    EXPECT_EQ(peer.overlaps(), 0);
    EXPECT_EQ(peer.requests(), 2 * kSendsPerThread + kProbes);
    EXPECT_EQ(sendsAnswered.load(), 2 * kSendsPerThread);
    EXPECT_EQ(probesAnswered.load(), kProbes);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(readsGood.load(), reads.load());

    // Both relays were polled and the last poll of each is what the host reads.
    for (int16_t device = 0; device < 2; ++device) {
        const int polls = peer.polls(static_cast<uint8_t>(device + 1));
        EXPECT_GT(polls, 0);
        TestPacket yc(device, VORLAN_REG_YC, 0, {1});
        ASSERT_EQ(host.Read(yc.packet), 1);
        EXPECT_EQ(yc.Float(0), static_cast<float>(100 * (device + 1) + polls));
    }
}

TEST(Concurrency, TwoHostThreadsOpenOneComponentAtOnce) {
    // ThreadSanitizer reports it if the channel record's copy is made unlocked.
    vorlan_test::PtyPair first;
    vorlan_test::PtyPair second;
    vorlan_test::LoadedComponent host;
    ASSERT_TRUE(host.ok());
    std::atomic<int> opened{0};
    auto open = [&](const std::string& path) {
        for (int i = 0; i < 20; ++i) opened += host.Open(i % 2 == 0 ? path : "/dev/vorlan-none");
    };
    std::thread a(open, first.path());
    std::thread b(open, second.path());
    a.join();
    b.join();
    EXPECT_GT(opened.load(), 0);
}

}  // namespace
