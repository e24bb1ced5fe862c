// SPDX-License-Identifier: Apache-2.0
// The line settings at OpenChannel on real pseudo-terminals: RS-485 asked
// of a port without it, notes about the file to the monitor, and a 2-wire
// adapter's echo played by the peer under the fast profile.

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "hex.h"
#include "component/relay_driver.h"
#include "pty_pair.h"

namespace {

using vorlan_test::Hex;
using vorlan_test::PtyPair;
using vorlan_test::WithCrc;

class LineRecorder final : public vorlan::MonitorSink {
public:
    void SendLine(const char* text, size_t size) override { lines->emplace_back(text, size); }
    std::shared_ptr<std::vector<std::string>> lines = std::make_shared<std::vector<std::string>>();
};

ChannelConfig Channel(const std::string& port) {
    ChannelConfig c;
    std::memset(&c, 0, sizeof c);
    std::snprintf(c.portName, sizeof c.portName, "%s", port.c_str());
    c.baudRate = 9600;
    c.byteSize = 8;
    c.stopBits = 1;
    return c;
}

// A settings file for the test's lifetime, named by VORLAN_LINES.
class LinesFile {
public:
    explicit LinesFile(const std::string& text) {
        char dir[] = "/tmp/vorlan-lines-XXXXXX";
        if (mkdtemp(dir) != nullptr) dir_ = dir;
        path_ = dir_ + "/lines.ini";
        std::ofstream(path_) << text;
        setenv("VORLAN_LINES", path_.c_str(), 1);
    }
    ~LinesFile() {
        unsetenv("VORLAN_LINES");
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string dir_, path_;
};

TEST(LineChannelOnPty, Rs485OnAPortWithoutItDoesNotOpenAndWritesNothing) {
    PtyPair relay;
    LinesFile lines("[default]\nrs485 = on\n");
    vorlan::CRelayDriver driver;
    const ChannelConfig channel = Channel(relay.path());
    EXPECT_EQ(driver.OpenChannelLocked(&channel), 0);
    EXPECT_EQ(driver.PortHandle(), -1);
    EXPECT_TRUE(relay.ReadPeer(100).empty());

    // The port's own section may turn it off again.
    LinesFile own("[default]\nrs485 = on\n[" + relay.path() + "]\nrs485 = off\n");
    EXPECT_EQ(driver.OpenChannelLocked(&channel), 1);
}

TEST(LineChannelOnPty, FileNotesReachTheMonitorOnceAndTheLineStillOpens) {
    PtyPair relay;
    LinesFile lines("[default]\ntiming = rapid\n");
    LineRecorder recorder;
    auto seen = recorder.lines;
    vorlan::CRelayDriver driver(nullptr, std::make_unique<LineRecorder>(recorder));
    const ChannelConfig channel = Channel(relay.path());
    EXPECT_EQ(driver.OpenChannelLocked(&channel), 1);
    driver.CloseChannelLocked();
    EXPECT_EQ(driver.OpenChannelLocked(&channel), 1);  // the same notes are not repeated
    // One note, in lines of 80 characters, none lost.
    const std::string note = "line settings: " + lines.path() + ": line 2: bad value 'rapid' for timing, default used";
    std::string joined;
    for (size_t i = 0; i < seen->size(); ++i) {
        const std::string& line = (*seen)[i];
        EXPECT_LE(line.size(), 80u);
        joined += i == 0 ? line : line.substr(3);
    }
    EXPECT_EQ(joined, note);
    EXPECT_EQ(seen->size(), 2u);
}

TEST(LineChannelOnPty, FastProfileDropsTheAdaptersEchoAndTakesTheAnswer) {
    PtyPair relay;
    LinesFile lines("[default]\ntiming = fast\necho = on\n");
    vorlan::CRelayDriver driver;
    const ChannelConfig channel = Channel(relay.path());
    ASSERT_EQ(driver.OpenChannelLocked(&channel), 1);
    ASSERT_EQ(driver.AddDevice("1", nullptr), 1);

    const std::vector<uint8_t> poll = Hex("01 83 00 30 F0");
    const std::vector<uint8_t> answer = WithCrc("01 04 00");
    auto peer = std::async(std::launch::async, [&] {
        std::vector<uint8_t> request = relay.ReadPeerExactly(poll.size(), 3000);
        relay.WritePeer(request);  // the adapter's echo
        relay.WritePeer(answer);
        return request;
    });
    EXPECT_EQ(driver.ProbeDevice(0, 1, 0), 1);
    EXPECT_EQ(peer.get(), poll);
    EXPECT_EQ(driver.ErrorIndex(), -1);

    // An echo that differs fails with the read error.
    peer = std::async(std::launch::async, [&] {
        std::vector<uint8_t> request = relay.ReadPeerExactly(poll.size(), 3000);
        std::vector<uint8_t> spoiled = request;
        spoiled[1] ^= 0x40;
        relay.WritePeer(spoiled);
        relay.WritePeer(answer);
        return request;
    });
    EXPECT_EQ(driver.ProbeDevice(0, 1, 0), 0);
    EXPECT_EQ(peer.get(), poll);
    EXPECT_EQ(driver.ErrorIndex(), 7);
}

}  // namespace
