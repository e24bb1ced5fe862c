// SPDX-License-Identifier: Apache-2.0
#pragma once
// Switches a serial descriptor to RS-485 direction control (TIOCSRS485).

#include <cstdint>

#include "platform/rs485_settings.h"

namespace vorlan {

// The terminal control call; a test passes one that records the request.
using TerminalIoctl = int (*)(int fd, unsigned long request, void* argument);
int SystemTerminalIoctl(int fd, unsigned long request, void* argument);

// Does nothing when `settings` is off. Otherwise reads the port's RS-485
// record, sets it and reads it back; false when the port has no RS-485 mode
// or did not take it.
bool ApplyRs485(int fd, const Rs485Settings& settings, TerminalIoctl ioctlCall = &SystemTerminalIoctl);

}  // namespace vorlan
