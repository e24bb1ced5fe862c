// SPDX-License-Identifier: Apache-2.0
// The relay probe end to end: the driver on a real pseudo-terminal, the test
// playing the relay on the other side.

#include <limits.h>
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string>

#include "hex.h"
#include "component/relay_driver.h"
#include "monitor_listener.h"
#include "pty_pair.h"

namespace {

using vorlan_test::Hex;
using vorlan_test::MonitorListener;
using vorlan_test::PtyPair;
using vorlan_test::ToHex;
using vorlan_test::WithCrc;

const std::vector<uint8_t> kPoll = Hex("01 83 00 30 F0");
const std::vector<uint8_t> kNothingToReport = WithCrc("01 04 00");

ChannelConfig Channel(const std::string& port) {
    ChannelConfig c;
    std::memset(&c, 0, sizeof c);
    std::snprintf(c.portName, sizeof c.portName, "%s", port.c_str());
    c.baudRate = 9600;
    c.byteSize = 8;
    c.stopBits = 1;
    c.replyTimeout = 1000;
    return c;
}

// The relay: waits for one request and answers it.
std::future<std::vector<uint8_t>> AnswerOnce(PtyPair& relay, std::vector<uint8_t> answer) {
    return std::async(std::launch::async, [&relay, answer] {
        std::vector<uint8_t> request = relay.ReadPeerExactly(5, 3000);
        relay.WritePeer(answer);
        return request;
    });
}

// Descriptors of this process that lead to `path`.
int DescriptorsOn(const std::string& path) {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* e = dir ? readdir(dir) : nullptr) {
        char target[PATH_MAX] = {};
        const std::string fd = std::string("/proc/self/fd/") + e->d_name;
        if (readlink(fd.c_str(), target, sizeof target - 1) > 0 && path == target) ++count;
    }
    if (dir) closedir(dir);
    return count;
}

TEST(ProbeOnPtyTest, AnsweredProbeSucceedsAndIsTraced) {
    MonitorListener monitor("probe");
    setenv("VORLAN_MONITOR", monitor.name().c_str(), 1);
    vorlan::CRelayDriver driver;
    unsetenv("VORLAN_MONITOR");

    PtyPair relay;
    const ChannelConfig channel = Channel(relay.path());
    ASSERT_EQ(driver.OpenChannel(&channel), 1);
    int32_t address = 0;
    ASSERT_EQ(driver.AddDevice("1", &address), 1);
    driver.State().devices[0].host.traceOn = 1;

    auto request = AnswerOnce(relay, kNothingToReport);
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = driver.ProbeDevice(0, 1, 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(request.get(), kPoll);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(driver.ErrorIndex(), -1);
    std::printf("[ figure   ] answered probe on a pseudo-terminal: %.1f ms\n",
                std::chrono::duration<double, std::milli>(took).count());

    const std::vector<std::string> lines{"T=>" + ToHex(kPoll) + " ",
                                         "R=>" + ToHex(kNothingToReport) + " "};
    EXPECT_EQ(monitor.Lines(), lines);
}

TEST(ProbeOnPtyTest, UnregisteredAddressWritesNothing) {
    vorlan::CRelayDriver driver;
    PtyPair relay;
    const ChannelConfig channel = Channel(relay.path());
    ASSERT_EQ(driver.OpenChannel(&channel), 1);
    ASSERT_EQ(driver.AddDevice("1", nullptr), 1);
    EXPECT_EQ(driver.ProbeDevice(0, 9, 0), 0);
    EXPECT_TRUE(relay.ReadPeer(100).empty());
}

TEST(ProbeOnPtyTest, SilentRelayTimesOut) {
    vorlan::CRelayDriver driver;
    PtyPair relay;
    const ChannelConfig channel = Channel(relay.path());
    ASSERT_EQ(driver.OpenChannel(&channel), 1);
    ASSERT_EQ(driver.AddDevice("1", nullptr), 1);
    EXPECT_EQ(driver.ProbeDevice(0, 1, 0), 0);
    EXPECT_EQ(driver.ErrorIndex(), 6);
    EXPECT_EQ(relay.ReadPeer(100), kPoll);
}

TEST(ProbeOnPtyTest, RelayLineGoneMidExchangeAndBack) {
    char dir[] = "/tmp/vl-XXXXXX";  // the host gives 31 characters of name
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string line = std::string(dir) + "/line1";  // a stable name
    auto first = std::make_unique<PtyPair>();
    const std::string firstPath = first->path();
    ASSERT_EQ(symlink(firstPath.c_str(), line.c_str()), 0);

    vorlan::CRelayDriver driver;
    const ChannelConfig channel = Channel(line);
    ASSERT_EQ(driver.OpenChannel(&channel), 1);
    ASSERT_EQ(driver.AddDevice("1", nullptr), 1);

    // The other side goes away after taking the request.
    auto probe = std::async(std::launch::async, [&driver] { return driver.ProbeDevice(0, 1, 0); });
    EXPECT_EQ(first->ReadPeerExactly(5, 3000), kPoll);
    first->ClosePeer();
    EXPECT_EQ(probe.get(), 0);
    EXPECT_EQ(driver.ErrorIndex(), 7);
    EXPECT_EQ(DescriptorsOn(firstPath), 0);  // the dead device was let go at once
    first.reset();

    // It comes back under the same name; the next probe reopens it.
    PtyPair second;
    unlink(line.c_str());
    ASSERT_EQ(symlink(second.path().c_str(), line.c_str()), 0);
    auto request = AnswerOnce(second, kNothingToReport);
    EXPECT_EQ(driver.ProbeDevice(0, 1, 0), 1);
    EXPECT_EQ(request.get(), kPoll);

    driver.CloseChannel();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

}  // namespace
