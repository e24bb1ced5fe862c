// SPDX-License-Identifier: Apache-2.0
#include "platform/linux_rs485.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace vorlan {

int SystemTerminalIoctl(int fd, unsigned long request, void* argument) {
    return ioctl(fd, request, argument);
}

bool ApplyRs485(int fd, const Rs485Settings& settings, TerminalIoctl ioctlCall) {
    if (!settings.enabled) return true;
    serial_rs485 rs485{};
    // A port without RS-485 support refuses the read already.
    if (ioctlCall(fd, TIOCGRS485, &rs485) != 0) return false;
    rs485.flags |= SER_RS485_ENABLED;
    rs485.flags &= ~(SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND);
    if (settings.rtsOnSend) rs485.flags |= SER_RS485_RTS_ON_SEND;
    if (settings.rtsAfterSend) rs485.flags |= SER_RS485_RTS_AFTER_SEND;
    rs485.delay_rts_before_send = settings.delayBeforeSendMs;
    rs485.delay_rts_after_send = settings.delayAfterSendMs;
    if (ioctlCall(fd, TIOCSRS485, &rs485) != 0) return false;
    // Some drivers accept the call and keep RS-485 off.
    serial_rs485 taken{};
    if (ioctlCall(fd, TIOCGRS485, &taken) != 0) return false;
    return (taken.flags & SER_RS485_ENABLED) != 0;
}

}  // namespace vorlan
