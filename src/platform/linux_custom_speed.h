// SPDX-License-Identifier: Apache-2.0
#pragma once
// Baud rates that have no termios constant, through the kernel's BOTHER
// speed. Kept apart because <asm/termbits.h> clashes with <termios.h>.

#include <cstdint>

namespace vorlan {

// Sets input and output speed of the terminal `fd` to `baud`, keeping every
// other setting. False when the terminal refuses.
bool SetCustomSpeed(int fd, uint32_t baud);

// Reads the output speed of the terminal `fd` in bits per second.
bool ReadSpeed(int fd, uint32_t& baud);

}  // namespace vorlan
