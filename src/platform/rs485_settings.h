// SPDX-License-Identifier: Apache-2.0
#pragma once
// RS-485 direction control as the kernel offers it for a serial port: the
// driver raises RTS while sending and drops it after, with optional delays.

#include <cstdint>

namespace vorlan {

struct Rs485Settings {
    bool enabled = false;
    bool rtsOnSend = true;        // RTS level while sending
    bool rtsAfterSend = false;    // RTS level after sending
    uint32_t delayBeforeSendMs = 0;
    uint32_t delayAfterSendMs = 0;
};

}  // namespace vorlan
