// SPDX-License-Identifier: Apache-2.0
// An adapter unplugged mid-run: the relays' side of the pseudo-terminal goes
// away, packets fail with 0, and once a line is back under the same name the
// polling carries on without the host reopening the channel.

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "exclusive_line_peer.h"
#include "loaded_component.h"
#include "test_packet.h"
#include "pty_pair.h"

namespace {

using vorlan_test::TestPacket;

// A line: a pseudo-terminal with relays answering on it, reachable under `link`.
struct Line {
    explicit Line(const std::string& link) : pty(std::make_unique<vorlan_test::PtyPair>()) {
        ::unlink(link.c_str());
        ok = ::symlink(pty->path().c_str(), link.c_str()) == 0;
        peer = std::make_unique<vorlan_test::ExclusiveLinePeer>(*pty);
    }
    void Unplug() {
        peer->Stop();
        pty->ClosePeer();
    }
    std::unique_ptr<vorlan_test::PtyPair> pty;
    std::unique_ptr<vorlan_test::ExclusiveLinePeer> peer;
    bool ok = false;
};

int32_t Send(vorlan_test::LoadedComponent& host) {
    TestPacket send(0, VORLAN_REG_SEND, 0, {1});
    return host.Read(send.packet);
}

TEST(LineFault, PacketsFailWhileTheLineIsGoneAndPollingResumesWhenItReturns) {
    char dirTemplate[] = "/tmp/vlf-XXXXXX";  // the host record holds 31 characters
    ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string link = dir + "/tty0";

    auto first = std::make_unique<Line>(link);
    ASSERT_TRUE(first->ok);
    vorlan_test::LoadedComponent host;
    ASSERT_TRUE(host.ok());
    ASSERT_EQ(host.Open(link), 1);
    ASSERT_EQ(host.Add("1"), 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Send(host), 1) << "send " << i;

    first->Unplug();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Send(host), 0) << "send while unplugged " << i;
    TestPacket stale(0, VORLAN_REG_YC, 0, {1});
    EXPECT_EQ(host.Read(stale.packet), 1);  // memory still serves the last values
    EXPECT_EQ(stale.Float(0), 100.0f + 3);
    first.reset();

    // Plugged in again, under the same name; the port reopens it by itself
    // at most once a second.
    Line second(link);
    ASSERT_TRUE(second.ok);
    int answered = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (answered < 2 && std::chrono::steady_clock::now() < giveUp) {
        if (Send(host) == 1) {
            ++answered;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
    EXPECT_EQ(answered, 2);
    EXPECT_EQ(second.peer->overlaps(), 0);
    TestPacket yc(0, VORLAN_REG_YC, 0, {1});
    ASSERT_EQ(host.Read(yc.packet), 1);
    EXPECT_EQ(yc.Float(0), 100.0f + second.peer->polls(1));

    second.Unplug();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

}  // namespace
