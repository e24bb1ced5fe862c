// SPDX-License-Identifier: Apache-2.0
// RS-485 direction control through the terminal control seam: what the
// kernel would be told, and a port that has no RS-485 mode.

#include "platform/linux_rs485.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Records every call; plays a port whose RS-485 record is `stored`.
struct FakeTerminal {
    static int Call(int fd, unsigned long request, void* argument) {
        calls.push_back(request);
        if (!supported || fd != 7) return -1;
        auto* record = static_cast<serial_rs485*>(argument);
        if (request == TIOCGRS485) {
            *record = stored;
            return 0;
        }
        if (request == TIOCSRS485) {
            stored = *record;
            if (!keepsEnabled) stored.flags &= ~static_cast<uint32_t>(SER_RS485_ENABLED);
            return 0;
        }
        return -1;
    }
    static std::vector<unsigned long> calls;
    static serial_rs485 stored;
    static bool supported;
    static bool keepsEnabled;
};
std::vector<unsigned long> FakeTerminal::calls;
serial_rs485 FakeTerminal::stored{};
bool FakeTerminal::supported = true;
bool FakeTerminal::keepsEnabled = true;

class Rs485Test : public ::testing::Test {
protected:
    void SetUp() override {
        FakeTerminal::calls.clear();
        FakeTerminal::stored = serial_rs485{};
        FakeTerminal::stored.flags = SER_RS485_RX_DURING_TX;  // kept as the port had it
        FakeTerminal::supported = true;
        FakeTerminal::keepsEnabled = true;
    }
};

TEST_F(Rs485Test, OffTouchesNothing) {
    EXPECT_TRUE(vorlan::ApplyRs485(7, vorlan::Rs485Settings{}, &FakeTerminal::Call));
    EXPECT_TRUE(FakeTerminal::calls.empty());
}

TEST_F(Rs485Test, OnSetsTheFlagsAndDelaysAndChecksThemTaken) {
    vorlan::Rs485Settings s;
    s.enabled = true;
    s.rtsOnSend = false;
    s.rtsAfterSend = true;
    s.delayBeforeSendMs = 3;
    s.delayAfterSendMs = 5;
    EXPECT_TRUE(vorlan::ApplyRs485(7, s, &FakeTerminal::Call));
    EXPECT_EQ(FakeTerminal::calls, (std::vector<unsigned long>{TIOCGRS485, TIOCSRS485, TIOCGRS485}));
    const serial_rs485& r = FakeTerminal::stored;
    EXPECT_EQ(r.flags, static_cast<uint32_t>(SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX));
    EXPECT_EQ(r.delay_rts_before_send, 3u);
    EXPECT_EQ(r.delay_rts_after_send, 5u);

    s.rtsOnSend = true;
    s.rtsAfterSend = false;
    EXPECT_TRUE(vorlan::ApplyRs485(7, s, &FakeTerminal::Call));
    EXPECT_EQ(FakeTerminal::stored.flags & (SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND),
              static_cast<uint32_t>(SER_RS485_RTS_ON_SEND));
}

TEST_F(Rs485Test, PortWithoutRs485OrThatDropsItFails) {
    vorlan::Rs485Settings s;
    s.enabled = true;
    FakeTerminal::supported = false;
    EXPECT_FALSE(vorlan::ApplyRs485(7, s, &FakeTerminal::Call));
    EXPECT_EQ(FakeTerminal::calls.size(), 1u);  // nothing set after the refused read

    FakeTerminal::supported = true;
    FakeTerminal::keepsEnabled = false;
    EXPECT_FALSE(vorlan::ApplyRs485(7, s, &FakeTerminal::Call));
}

}  // namespace
