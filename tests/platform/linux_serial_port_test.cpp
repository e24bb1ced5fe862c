// SPDX-License-Identifier: Apache-2.0
#include "platform/linux_serial_port.h"

#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "fake_clock.h"
#include "hex.h"
#include "pty_pair.h"

namespace {

using vorlan_test::FakeClock;
using vorlan_test::Hex;
using vorlan_test::PtyPair;

// A stable name pointing at whichever pseudo-terminal plays the device now,
// as a udev symlink names a USB adapter.
class StableName {
public:
    StableName() {
        char dir[] = "/tmp/vorlan-port-XXXXXX";
        dir_ = mkdtemp(dir) ? dir : "";
        link_ = dir_ + "/relayline";
    }
    ~StableName() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void PointAt(const std::string& target) {
        unlink(link_.c_str());
        if (symlink(target.c_str(), link_.c_str()) != 0) std::perror("symlink");
    }
    const std::string& path() const { return link_; }

private:
    std::string dir_;
    std::string link_;
};

bool Write(vorlan::SerialPort& port, const std::vector<uint8_t>& bytes) {
    return port.Write(bytes.data(), bytes.size());
}

TEST(LinuxSerialPortTest, WritesReadsAndCountsWaitingBytes) {
    FakeClock clock;
    PtyPair pty;
    auto port = vorlan::LinuxSerialPort::Open(pty.path(), vorlan::SerialSettings{}, clock);
    ASSERT_TRUE(port);
    // Every byte value passes unchanged both ways.
    std::vector<uint8_t> all(256);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(Write(*port, all));
    EXPECT_EQ(pty.ReadPeerExactly(all.size(), 2000), all);

    size_t waiting = 99;
    ASSERT_TRUE(port->BytesWaiting(waiting));
    EXPECT_EQ(waiting, 0u);
    uint8_t buf[512];
    size_t got = 99;
    EXPECT_TRUE(port->Read(buf, sizeof buf, got));  // returns at once with nothing
    EXPECT_EQ(got, 0u);

    pty.WritePeer(all);
    std::vector<uint8_t> in;
    for (int i = 0; i < 200 && in.size() < all.size(); ++i) {
        ASSERT_TRUE(port->BytesWaiting(waiting));
        if (waiting == 0) {
            usleep(5000);
            continue;
        }
        ASSERT_TRUE(port->Read(buf, sizeof buf, got));
        in.insert(in.end(), buf, buf + got);
    }
    EXPECT_EQ(in, all);
}

TEST(LinuxSerialPortTest, WriteThatCannotCompleteFails) {
    FakeClock clock;
    PtyPair pty;
    auto port = vorlan::LinuxSerialPort::Open(pty.path(), vorlan::SerialSettings{}, clock);
    ASSERT_TRUE(port);
    // Output held, as by a peer that never lets the line send.
    ASSERT_EQ(tcflow(port->Descriptor(), TCOOFF), 0);
    EXPECT_FALSE(Write(*port, Hex("01 83 00 30 F0")));
    EXPECT_TRUE(port->IsOpen());  // a full line is not a vanished device
}

TEST(LinuxSerialPortTest, VanishedDeviceIsClosedAndReopenedAtMostOnceASecond) {
    FakeClock clock;
    StableName name;
    auto first = std::make_unique<PtyPair>();
    const std::string firstPath = first->path();
    name.PointAt(firstPath);
    auto port = vorlan::LinuxSerialPort::Open(name.path(), vorlan::SerialSettings{}, clock);
    ASSERT_TRUE(port);

    first->ClosePeer();  // unplugged
    size_t waiting = 0;
    EXPECT_FALSE(port->BytesWaiting(waiting));
    EXPECT_FALSE(port->IsOpen());  // the dead descriptor went at once
    first.reset();

    // The first write tries at once; the device is still gone.
    EXPECT_FALSE(Write(*port, Hex("01 83 00 30 F0")));

    PtyPair second;  // plugged in again under the stable name
    name.PointAt(second.path());
    clock.Advance(999);
    EXPECT_FALSE(Write(*port, Hex("01 83 00 30 F0")));  // too soon to try again
    EXPECT_TRUE(second.ReadPeer(50).empty());

    clock.Advance(1);
    EXPECT_TRUE(Write(*port, Hex("01 83 00 30 F0")));
    EXPECT_EQ(second.ReadPeerExactly(5, 2000), Hex("01 83 00 30 F0"));
    EXPECT_TRUE(port->IsOpen());
}

TEST(LinuxSerialPortTest, AnotherTerminalUnderTheOldKernelNameReceivesNothing) {
    FakeClock clock;
    auto first = std::make_unique<PtyPair>();
    const std::string kernelName = first->path();  // /dev/pts/N, not a link
    auto port = vorlan::LinuxSerialPort::Open(kernelName, vorlan::SerialSettings{}, clock);
    ASSERT_TRUE(port);
    first->ClosePeer();
    size_t waiting = 0;
    EXPECT_FALSE(port->BytesWaiting(waiting));
    first.reset();

    // Another program's terminal gets the freed number: the kernel hands out
    // the lowest free one, so keep opening until it comes round.
    std::vector<std::unique_ptr<PtyPair>> others;
    PtyPair* impostor = nullptr;
    for (int i = 0; i < 64 && impostor == nullptr; ++i) {
        others.push_back(std::make_unique<PtyPair>());
        if (others.back()->path() == kernelName) impostor = others.back().get();
    }
    if (impostor == nullptr) GTEST_SKIP() << "the kernel did not reuse " << kernelName;

    for (int i = 0; i < 3; ++i) {
        clock.Advance(1000);
        EXPECT_FALSE(Write(*port, Hex("01 83 00 30 F0")));
    }
    EXPECT_TRUE(impostor->ReadPeer(50).empty());
    EXPECT_FALSE(port->IsOpen());
}

TEST(LinuxSerialPortTest, IdentityDecidesWhatMayStandInForTheDevice) {
    vorlan::DeviceIdentity uart;
    uart.device = makedev(4, 64);
    vorlan::DeviceIdentity adapter;
    adapter.device = makedev(188, 0);
    adapter.usbVendor = "0403";
    adapter.usbProduct = "6001";
    adapter.usbSerial = "A1B2";
    vorlan::DeviceIdentity otherAdapter = adapter;
    otherAdapter.usbSerial = "Z9";
    vorlan::DeviceIdentity pts;
    pts.pseudoTerminal = true;
    pts.device = makedev(136, 4);
    vorlan::DeviceIdentity link = pts;
    link.viaLink = true;

    EXPECT_TRUE(vorlan::MayReopenAs(uart, uart));
    EXPECT_TRUE(vorlan::MayReopenAs(adapter, adapter));
    EXPECT_FALSE(vorlan::MayReopenAs(adapter, otherAdapter));  // same ttyUSB0, other adapter
    EXPECT_FALSE(vorlan::MayReopenAs(uart, adapter));
    EXPECT_FALSE(vorlan::MayReopenAs(pts, pts));              // a new terminal, same number
    EXPECT_FALSE(vorlan::MayEverReopen(pts));
    EXPECT_TRUE(vorlan::MayEverReopen(link));
    EXPECT_TRUE(vorlan::MayReopenAs(link, link));            // the user's link, wherever it points
}

TEST(LinuxSerialPortTest, ClosedPortStaysClosed) {
    FakeClock clock;
    PtyPair pty;
    auto port = vorlan::LinuxSerialPort::Open(pty.path(), vorlan::SerialSettings{}, clock);
    ASSERT_TRUE(port);
    port->Close();
    clock.Advance(5000);
    EXPECT_FALSE(Write(*port, Hex("01")));
    size_t waiting = 0;
    EXPECT_FALSE(port->BytesWaiting(waiting));
    EXPECT_FALSE(port->IsOpen());
}

}  // namespace
