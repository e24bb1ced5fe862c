// SPDX-License-Identifier: Apache-2.0
// What the driver acts on and what it reports, through the C interface with a
// scripted relay on a real pseudo-terminal, in both timing profiles: an
// answer counts only for the request it answers, a failed control never runs
// later, a foreign frame is not a success, and every value says how fresh
// it is.

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hex.h"
#include "loaded_component.h"
#include "pty_pair.h"
#include "test_packet.h"
#include "vorlan/driver.h"

namespace {

using vorlan_test::Hex;
using vorlan_test::TestPacket;
using vorlan_test::WithCrc;
using Bytes = std::vector<uint8_t>;

// Plays the relays: every request is logged and answered by `answer` (an
// empty answer: silence).
class ScriptedRelays {
public:
    using Script = std::function<Bytes(const Bytes& request)>;
    ScriptedRelays(vorlan_test::PtyPair& pty, Script answer)
        : pty_(pty), answer_(std::move(answer)), thread_([this] { Run(); }) {}
    ~ScriptedRelays() {
        stop_ = true;
        thread_.join();
    }
    std::vector<Bytes> Requests() {
        std::lock_guard<std::mutex> guard(mutex_);
        return requests_;
    }
    bool Sent(uint8_t code) {
        for (const Bytes& r : Requests()) {
            if (r.size() > 1 && r[1] == code) return true;
        }
        return false;
    }

private:
    void Run() {
        Bytes pending;
        while (!stop_) {
            const Bytes got = pty_.ReadPeer(10);
            pending.insert(pending.end(), got.begin(), got.end());
            while (pending.size() >= 3 && pending.size() >= pending[2] + 5u) {
                const Bytes request(pending.begin(), pending.begin() + pending[2] + 5);
                pending.erase(pending.begin(), pending.begin() + pending[2] + 5);
                Bytes answer;
                {
                    std::lock_guard<std::mutex> guard(mutex_);
                    requests_.push_back(request);
                    answer = answer_(request);
                }
                if (!answer.empty()) pty_.WritePeer(answer);
            }
        }
    }

    vorlan_test::PtyPair& pty_;
    Script answer_;
    std::mutex mutex_;
    std::vector<Bytes> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A line settings file for the test's port, pointed to by VORLAN_LINES while
// the test runs.
class LineSettingsFile {
public:
    explicit LineSettingsFile(const std::string& body) {
        char name[] = "/tmp/vorlan-truth-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        path_ = name;
        std::ofstream(path_) << "[default]\n" << body;
        setenv("VORLAN_LINES", path_.c_str(), 1);
    }
    ~LineSettingsFile() {
        unsetenv("VORLAN_LINES");
        std::remove(path_.c_str());
    }

private:
    std::string path_;
};

class Truth : public ::testing::TestWithParam<bool> {
protected:
    std::string Timing() const { return GetParam() ? "timing = fast\n" : "timing = standard\n"; }
    int32_t Send(vorlan_test::LoadedComponent& host) {
        TestPacket send(0, VORLAN_REG_SEND, 0, {1});
        return host.Read(send.packet);
    }
    int32_t WriteYk(vorlan_test::LoadedComponent& host, uint16_t point, uint8_t command) {
        TestPacket yk(0, VORLAN_REG_YK, 1, {point});
        yk.SetByte(0, command);
        return host.Write(yk.packet);
    }
};

INSTANTIATE_TEST_SUITE_P(BothProfiles, Truth, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Fast" : "Standard"; });

// The select goes unanswered; the relay's late confirmation arrives as the
// answer to the next poll. The host was told the control failed: it must
// never run. An unsolicited confirmation and one naming another point fail
// the same way.
TEST_P(Truth, ControlsTheHostSawFailNeverRun) {
    vorlan_test::PtyPair pty;
    LineSettingsFile lines(Timing());
    std::atomic<int> late{0};
    ScriptedRelays relay(pty, [&](const Bytes& r) -> Bytes {
        if (r[1] == 0x98) {
            late = 1;
            return {};  // slow: nothing in time
        }
        if (r[1] == 0x83 && late.exchange(0) == 1) return WithCrc("01 C8 03 00 02 CC");
        return WithCrc("01 04 00");
    });
    vorlan_test::LoadedComponent host;
    ASSERT_TRUE(host.ok());
    ASSERT_EQ(host.Open(pty.path()), 1);
    ASSERT_EQ(host.Add("1"), 1);

    ASSERT_EQ(WriteYk(host, 3, VORLAN_YK_CLOSE), 1);
    EXPECT_EQ(Send(host), 0);  // the select timed out
    EXPECT_EQ(Send(host), 0);  // the poll got the late confirmation: not its answer
    EXPECT_EQ(Send(host), 1);
    EXPECT_EQ(Send(host), 1);
    EXPECT_FALSE(relay.Sent(0x9A));
    EXPECT_TRUE(relay.Sent(0x98));
}

TEST_P(Truth, UnsolicitedOrMismatchedConfirmationsNeverLeadToAnExecute) {
    vorlan_test::PtyPair pty;
    LineSettingsFile lines(Timing());
    ScriptedRelays relay(pty, [&](const Bytes& r) -> Bytes {
        if (r[1] == 0x98) return WithCrc("01 C8 03 00 05 AA");  // another point and command
        return WithCrc("01 C8 03 00 00 00");                    // nobody asked
    });
    vorlan_test::LoadedComponent host;
    ASSERT_TRUE(host.ok());
    ASSERT_EQ(host.Open(pty.path()), 1);
    ASSERT_EQ(host.Add("1"), 1);

    EXPECT_EQ(Send(host), 0);
    ASSERT_EQ(WriteYk(host, 3, VORLAN_YK_CLOSE), 1);
    EXPECT_EQ(Send(host), 0);
    EXPECT_EQ(Send(host), 0);
    EXPECT_TRUE(relay.Sent(0x98));
    EXPECT_FALSE(relay.Sent(0x9A));
}

// Another relay's frame alone is no answer; the asked relay's answer that
// follows it in the same burst is taken.
TEST_P(Truth, ForeignFramesAreNoSuccessButDoNotHideTheOwnAnswer) {
    vorlan_test::PtyPair pty;
    LineSettingsFile lines(Timing());
    std::atomic<int> round{0};
    // Relay 1 stays silent; what comes is relay 2's frame, at first alone,
    // then followed by relay 1's own answer.
    ScriptedRelays relay(pty, [&](const Bytes& r) -> Bytes {
        Bytes foreign = WithCrc("02 06 04 01 00 10 27");
        if (r[0] != 1) return WithCrc("02 04 00");
        if (round++ == 0) return foreign;
        const Bytes own = WithCrc("01 06 04 01 00 10 27");
        foreign.insert(foreign.end(), own.begin(), own.end());
        return foreign;
    });
    vorlan_test::LoadedComponent host;
    ASSERT_TRUE(host.ok());
    ASSERT_EQ(host.Open(pty.path()), 1);
    ASSERT_EQ(host.Add("2"), 1);
    ASSERT_EQ(host.Add("1"), 1);
    ASSERT_EQ(host.Add("1"), 0);  // one record per address

    EXPECT_EQ(Send(host), 0);  // the rotation starts at the second relay, address 1
    VorlanRelayStats stats{};
    ASSERT_EQ(host.Stats(1, stats), 1);
    EXPECT_EQ(stats.rejectedAnswers, 1u);
    EXPECT_EQ(stats.answersTaken, 0u);
    ASSERT_EQ(host.Stats(0, stats), 1);
    EXPECT_EQ(stats.answersTaken, 0u);  // relay 2 was not asked: its frame is not its answer

    // A host built before the back-off fields were appended passes a shorter
    // record: the old call writes nothing past lastAnswer.
    VorlanRelayStats old;
    std::memset(&old, 0xEE, sizeof old);
    ASSERT_EQ(host.OldStats(1, old), 1);
    EXPECT_EQ(old.rejectedAnswers, 1u);
    const auto* tail = reinterpret_cast<const uint8_t*>(&old) + offsetof(VorlanRelayStats, inBackoff);
    for (size_t i = 0; i < sizeof old - offsetof(VorlanRelayStats, inBackoff); ++i) EXPECT_EQ(tail[i], 0xEE) << i;

    EXPECT_EQ(Send(host), 1);  // relay 2's turn
    EXPECT_EQ(Send(host), 1);  // relay 1 again, its own answer after the foreign one
    TestPacket yc(1, VORLAN_REG_YC, 0, {1});
    ASSERT_EQ(host.Read(yc.packet), 1);
    EXPECT_EQ(yc.Float(0), 10000.0f);
    EXPECT_EQ(yc.item(0).quality, VORLAN_QUALITY_GOOD);
}

// Never reported, answering, silent, back; and the port lost.
TEST_P(Truth, EveryValueSaysHowFreshItIs) {
    vorlan_test::PtyPair pty;
    LineSettingsFile lines(Timing());
    std::atomic<bool> silent{false};
    ScriptedRelays relay(pty, [&](const Bytes&) -> Bytes {
        if (silent) return {};
        return WithCrc("01 06 04 01 00 10 27");  // YC1 only
    });
    vorlan_test::LoadedComponent host;
    ASSERT_TRUE(host.ok());
    ASSERT_EQ(host.Open(pty.path()), 1);
    ASSERT_EQ(host.Add("1"), 1);
    TestPacket yc(0, VORLAN_REG_YC, 0, {1, 2});
    TestPacket bwyx(0, VORLAN_REG_BWYX, 0, {1});

    ASSERT_EQ(host.Read(yc.packet), 1);
    EXPECT_EQ(yc.item(0).quality, VORLAN_QUALITY_WAITING);  // never answered
    EXPECT_EQ(yc.Float(0), 0.0f);
    ASSERT_EQ(host.Read(bwyx.packet), 1);
    EXPECT_EQ(bwyx.item(0).quality, VORLAN_QUALITY_WAITING);

    ASSERT_EQ(Send(host), 1);
    ASSERT_EQ(host.Read(yc.packet), 1);
    EXPECT_EQ(yc.item(0).quality, VORLAN_QUALITY_GOOD);
    EXPECT_EQ(yc.Float(0), 10000.0f);
    EXPECT_EQ(yc.item(1).quality, VORLAN_QUALITY_WAITING);  // YC2 never reported
    const uint64_t answeredAt = yc.Stamp(0);

    silent = true;
    for (int i = 0; i < VORLAN_STALE_AFTER_FAILURES - 1; ++i) {
        EXPECT_EQ(Send(host), 0);
        ASSERT_EQ(host.Read(yc.packet), 1);
        EXPECT_EQ(yc.item(0).quality, VORLAN_QUALITY_GOOD) << i;
    }
    EXPECT_EQ(Send(host), 0);
    ASSERT_EQ(host.Read(yc.packet), 1);
    EXPECT_EQ(yc.item(0).quality, VORLAN_QUALITY_LAST_KNOWN);
    EXPECT_EQ(yc.Float(0), 10000.0f);                 // the last value
    EXPECT_LE(yc.Stamp(0), answeredAt);              // stamped with its answer's time
    EXPECT_EQ(yc.item(1).quality, VORLAN_QUALITY_WAITING);  // still no last value
    bwyx.packet.items.count = 1;
    ASSERT_EQ(host.Read(bwyx.packet), 1);
    EXPECT_EQ(bwyx.item(0).quality, VORLAN_QUALITY_LAST_KNOWN);

    silent = false;
    EXPECT_EQ(Send(host), 1);
    ASSERT_EQ(host.Read(yc.packet), 1);
    EXPECT_EQ(yc.item(0).quality, VORLAN_QUALITY_GOOD);

    // Unplugged: the port fails, every reported value turns last known.
    pty.ClosePeer();
    EXPECT_EQ(Send(host), 0);
    ASSERT_EQ(host.Read(yc.packet), 1);
    EXPECT_EQ(yc.item(0).quality, VORLAN_QUALITY_LAST_KNOWN);
}

// quality = legacy serves every value good and stamped now, as before.
TEST_P(Truth, QualityLegacyServesTheOldWay) {
    vorlan_test::PtyPair pty;
    LineSettingsFile lines(Timing() + "quality = legacy\n");
    ScriptedRelays relay(pty, [&](const Bytes&) -> Bytes { return {}; });
    vorlan_test::LoadedComponent host;
    ASSERT_TRUE(host.ok());
    ASSERT_EQ(host.Open(pty.path()), 1);
    ASSERT_EQ(host.Add("1"), 1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Send(host), 0);
    TestPacket yc(0, VORLAN_REG_YC, 0, {1});
    TestPacket bwyx(0, VORLAN_REG_BWYX, 0, {1});
    ASSERT_EQ(host.Read(yc.packet), 1);
    ASSERT_EQ(host.Read(bwyx.packet), 1);
    EXPECT_EQ(yc.item(0).quality, 192);
    EXPECT_EQ(bwyx.item(0).quality, 192);
    EXPECT_GT(yc.Stamp(0), 0u);
}

}  // namespace
