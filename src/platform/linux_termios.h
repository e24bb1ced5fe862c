// SPDX-License-Identifier: Apache-2.0
#pragma once
// The channel's line settings as termios flags: raw and 8-bit clean, receiver
// on, modem lines ignored, hardware flow control left as the port had it.

#include <termios.h>

#include <cstdint>

#include "platform/serial_port.h"

namespace vorlan {

// Applies `settings` to `t` except the speed. False (and `t` unusable) for a
// byte size outside 5..8 or a parity code outside 0..4.
bool ApplyLineSettings(termios& t, const SerialSettings& settings);

// The termios speed constant for `baud`, or false when it has none.
bool StandardSpeed(int32_t baud, speed_t& speed);

}  // namespace vorlan
