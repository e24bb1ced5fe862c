// SPDX-License-Identifier: Apache-2.0
#include "link/serial_channel.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "component/relay_driver.h"
#include "platform/linux_custom_speed.h"
#include "platform/linux_serial_port.h"
#include "pty_pair.h"

namespace {

using vorlan_test::PtyPair;

ChannelConfig Channel(const std::string& port, int32_t baud = 9600, int16_t stopBits = 1,
                      uint8_t parity = 0, uint8_t byteSize = 8) {
    ChannelConfig c;
    std::memset(&c, 0, sizeof c);
    std::snprintf(c.portName, sizeof c.portName, "%s", port.c_str());
    c.baudRate = baud;
    c.stopBits = stopBits;
    c.parity = parity;
    c.byteSize = byteSize;
    c.replyTimeout = 500;
    return c;
}

// The settings the device holds; a pseudo-terminal's master side reports its slave's.
termios DeviceSettings(const PtyPair& pty) {
    termios t{};
    tcgetattr(pty.peer(), &t);
    return t;
}

uint32_t DeviceSpeed(const PtyPair& pty) {
    uint32_t baud = 0;
    vorlan::ReadSpeed(pty.peer(), baud);
    return baud;
}

// Whether a fresh opener, in another process, gets the device.
bool OtherProcessCanOpen(const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        const int fd = vorlan::OpenSerialDevice(path, vorlan::SerialSettings{});
        _exit(fd >= 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(DevicePathTest, MapsPortNames) {
    EXPECT_EQ(vorlan::DevicePathFor("COM3"), "/dev/ttyS2");
    EXPECT_EQ(vorlan::DevicePathFor("COM1"), "/dev/ttyS0");
    EXPECT_EQ(vorlan::DevicePathFor("com12"), "/dev/ttyS11");
    EXPECT_EQ(vorlan::DevicePathFor("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(vorlan::DevicePathFor("/dev/relayline1"), "/dev/relayline1");
    // Not COM<n> with n from 1: taken as a name under /dev, which won't open.
    EXPECT_EQ(vorlan::DevicePathFor("COM0"), "/dev/COM0");
    EXPECT_EQ(vorlan::DevicePathFor("COM"), "/dev/COM");
    EXPECT_EQ(vorlan::DevicePathFor("COM2a"), "/dev/COM2a");
    EXPECT_EQ(vorlan::DevicePathFor(nullptr), "");
}

TEST(DevicePathTest, ReadsAtMost31Characters) {
    char name[32];
    std::memset(name, 'x', sizeof name);  // no terminator in the host's field
    name[0] = '/';
    EXPECT_EQ(vorlan::DevicePathFor(name), "/" + std::string(30, 'x'));
}

TEST(ChannelSettingsTest, StopBitsTwoGiveTwoAnythingElseOne) {
    EXPECT_TRUE(vorlan::SettingsFor(Channel("x", 9600, 2)).twoStopBits);
    for (int16_t s : {0, 1, 3, -1}) EXPECT_FALSE(vorlan::SettingsFor(Channel("x", 9600, s)).twoStopBits);
    EXPECT_EQ(vorlan::SettingsFor(Channel("x", 9600, 1, 4)).parity, 4);
    EXPECT_EQ(vorlan::SettingsFor(Channel("x", 9600, 1, 0, 7)).byteSize, 7);
}

class ChannelOnPtyTest : public ::testing::Test {
protected:
    int32_t Open(const ChannelConfig& c) { return driver.OpenChannel(&c); }

    PtyPair pty;
    vorlan::CRelayDriver driver;
};

TEST_F(ChannelOnPtyTest, DeviceHoldsTheChannelSettings) {
    ASSERT_EQ(Open(Channel(pty.path(), 19200, 2, 3)), 1);
    EXPECT_EQ(driver.PortHandle(), 1);
    termios t = DeviceSettings(pty);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(DeviceSpeed(pty), 19200u);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    // A pseudo-terminal keeps 8 data bits and drops PARENB; what it keeps of mark parity:
    EXPECT_TRUE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_cflag & CMSPAR);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(ChannelOnPtyTest, OneStopBitAndNoParity) {
    ASSERT_EQ(Open(Channel(pty.path(), 9600, 3, 0)), 1);
    termios t = DeviceSettings(pty);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & (PARODD | CMSPAR));
    EXPECT_EQ(DeviceSpeed(pty), 9600u);
}

TEST_F(ChannelOnPtyTest, BaudRateLimits) {
    EXPECT_EQ(Open(Channel(pty.path(), 299)), 0);
    EXPECT_EQ(Open(Channel(pty.path(), 57601)), 0);
    EXPECT_EQ(driver.PortHandle(), -1);
    EXPECT_TRUE(OtherProcessCanOpen(pty.path()));  // and opened nothing

    ASSERT_EQ(Open(Channel(pty.path(), 300)), 1);
    EXPECT_EQ(DeviceSpeed(pty), 300u);
    driver.CloseChannel();
    ASSERT_EQ(Open(Channel(pty.path(), 57600)), 1);
    EXPECT_EQ(DeviceSpeed(pty), 57600u);
}

TEST_F(ChannelOnPtyTest, RateWithoutATermiosConstantUsesTheCustomSpeed) {
    ASSERT_EQ(Open(Channel(pty.path(), 14400)), 1);
    EXPECT_EQ(DeviceSpeed(pty), 14400u);
}

TEST_F(ChannelOnPtyTest, ByteSizeAndParityOutsideTheirRangesAreRefused) {
    EXPECT_EQ(Open(Channel(pty.path(), 9600, 1, 0, 9)), 0);
    EXPECT_EQ(Open(Channel(pty.path(), 9600, 1, 0, 4)), 0);
    EXPECT_EQ(Open(Channel(pty.path(), 9600, 1, 5)), 0);
    EXPECT_EQ(driver.PortHandle(), -1);
    EXPECT_TRUE(OtherProcessCanOpen(pty.path()));  // the refused opening left no lock behind
}

TEST_F(ChannelOnPtyTest, SecondOpenerIsRefused) {
    ASSERT_EQ(Open(Channel(pty.path())), 1);
    vorlan::CRelayDriver second;
    const ChannelConfig same = Channel(pty.path());
    EXPECT_EQ(second.OpenChannel(&same), 0);
    EXPECT_FALSE(OtherProcessCanOpen(pty.path()));
    EXPECT_EQ(driver.CloseChannel(), 1);
    EXPECT_TRUE(OtherProcessCanOpen(pty.path()));
}

TEST_F(ChannelOnPtyTest, CloseTwice) {
    ASSERT_EQ(Open(Channel(pty.path())), 1);
    EXPECT_EQ(driver.CloseChannel(), 1);
    EXPECT_EQ(driver.PortHandle(), -1);
    EXPECT_EQ(driver.CloseChannel(), 1);
    EXPECT_EQ(driver.PortHandle(), -1);
}

TEST_F(ChannelOnPtyTest, ReopeningKeepsTheOldPortUntilTheNewOneIsOpen) {
    ASSERT_EQ(Open(Channel(pty.path())), 1);
    EXPECT_EQ(Open(Channel("/dev/vorlan-no-such-port")), 0);
    EXPECT_EQ(driver.PortHandle(), 1);
    EXPECT_FALSE(OtherProcessCanOpen(pty.path()));  // still ours

    PtyPair other;
    ASSERT_EQ(Open(Channel(other.path())), 1);
    EXPECT_TRUE(OtherProcessCanOpen(pty.path()));  // the old one was released
    EXPECT_FALSE(OtherProcessCanOpen(other.path()));
}

TEST(ChannelOpenTest, PathsThatAreNoTerminalFail) {
    char dir[] = "/tmp/vorlan-channel-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/plain";
    const int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    vorlan::CRelayDriver driver;
    const ChannelConfig plain = Channel(file);
    EXPECT_EQ(driver.OpenChannel(&plain), 0);
    const ChannelConfig missing = Channel(std::string(dir) + "/missing");
    EXPECT_EQ(driver.OpenChannel(&missing), 0);
    EXPECT_NE(access(missing.portName, F_OK), 0);  // never created
    EXPECT_EQ(driver.PortHandle(), -1);
    unlink(file.c_str());
    rmdir(dir);
}

}  // namespace
