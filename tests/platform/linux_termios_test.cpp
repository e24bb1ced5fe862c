// SPDX-License-Identifier: Apache-2.0
#include "platform/linux_termios.h"

#include <gtest/gtest.h>

namespace {

vorlan::SerialSettings Settings(uint8_t byteSize, uint8_t parity, bool twoStopBits = false) {
    vorlan::SerialSettings s;
    s.byteSize = byteSize;
    s.parity = parity;
    s.twoStopBits = twoStopBits;
    return s;
}

// A terminal as a port might report it: cooked, echoing, software flow on.
termios Cooked() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IXOFF | ISTRIP | INPCK;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    t.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    return t;
}

TEST(LineSettingsTest, DataBits) {
    const std::pair<uint8_t, tcflag_t> sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};
    for (const auto& [bits, flag] : sizes) {
        termios t = Cooked();
        ASSERT_TRUE(vorlan::ApplyLineSettings(t, Settings(bits, 0))) << int(bits);
        EXPECT_EQ(t.c_cflag & CSIZE, flag) << int(bits);
    }
    for (uint8_t bits : {0, 4, 9, 255}) {
        termios t = Cooked();
        EXPECT_FALSE(vorlan::ApplyLineSettings(t, Settings(bits, 0))) << int(bits);
    }
}

TEST(LineSettingsTest, ParityCodes) {
    const tcflag_t mask = PARENB | PARODD | CMSPAR;
    const tcflag_t expected[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                 PARENB | CMSPAR};
    for (uint8_t code = 0; code < 5; ++code) {
        termios t = Cooked();
        ASSERT_TRUE(vorlan::ApplyLineSettings(t, Settings(8, code))) << int(code);
        EXPECT_EQ(t.c_cflag & mask, expected[code]) << int(code);
    }
    termios t = Cooked();
    EXPECT_FALSE(vorlan::ApplyLineSettings(t, Settings(8, 5)));
}

TEST(LineSettingsTest, RawEightBitCleanKeepingHardwareFlowControl) {
    termios t = Cooked();
    ASSERT_TRUE(vorlan::ApplyLineSettings(t, Settings(8, 0, false)));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP | INPCK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);  // as the port had it
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    ASSERT_TRUE(vorlan::ApplyLineSettings(t, Settings(8, 0, true)));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
}

TEST(LineSettingsTest, StandardSpeedsOnlyForTheirRates) {
    speed_t s = 0;
    EXPECT_TRUE(vorlan::StandardSpeed(300, s));
    EXPECT_EQ(s, static_cast<speed_t>(B300));
    EXPECT_TRUE(vorlan::StandardSpeed(57600, s));
    EXPECT_EQ(s, static_cast<speed_t>(B57600));
    EXPECT_FALSE(vorlan::StandardSpeed(14400, s));
    EXPECT_FALSE(vorlan::StandardSpeed(0, s));
}

}  // namespace
