// SPDX-License-Identifier: Apache-2.0
#include "platform/linux_termios.h"

namespace vorlan {

bool ApplyLineSettings(termios& t, const SerialSettings& settings) {
    tcflag_t size = 0;
    switch (settings.byteSize) {
        case 5: size = CS5; break;
        case 6: size = CS6; break;
        case 7: size = CS7; break;
        case 8: size = CS8; break;
        default: return false;
    }
    tcflag_t parity = 0;
    switch (settings.parity) {
        case 0: parity = 0; break;                          // none
        case 1: parity = PARENB | PARODD; break;            // odd
        case 2: parity = PARENB; break;                     // even
        case 3: parity = PARENB | PARODD | CMSPAR; break;   // mark
        case 4: parity = PARENB | CMSPAR; break;            // space
        default: return false;
    }

    cfmakeraw(&t);
    // No software flow control either: every byte value may appear in a frame.
    t.c_iflag &= ~static_cast<tcflag_t>(IXOFF | IXANY | INPCK);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= size | parity | CREAD | CLOCAL;
    if (settings.twoStopBits) t.c_cflag |= CSTOPB;
    // Reads return at once with what is waiting; the exchange does its own waiting.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return true;
}

bool StandardSpeed(int32_t baud, speed_t& speed) {
    switch (baud) {
        case 300: speed = B300; return true;
        case 600: speed = B600; return true;
        case 1200: speed = B1200; return true;
        case 1800: speed = B1800; return true;
        case 2400: speed = B2400; return true;
        case 4800: speed = B4800; return true;
        case 9600: speed = B9600; return true;
        case 19200: speed = B19200; return true;
        case 38400: speed = B38400; return true;
        case 57600: speed = B57600; return true;
        default: return false;
    }
}

}  // namespace vorlan
