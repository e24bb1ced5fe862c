// SPDX-License-Identifier: Apache-2.0
#include "platform/linux_custom_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace vorlan {

bool SetCustomSpeed(int fd, uint32_t baud) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &t) == 0;
}

bool ReadSpeed(int fd, uint32_t& baud) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    baud = t.c_ospeed;
    return true;
}

}  // namespace vorlan
