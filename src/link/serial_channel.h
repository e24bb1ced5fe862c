#pragma once
// Opening the serial port from the host's channel settings.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/serial_port.h"
#include "vorlan/driver.h"

namespace vorlan {

// "/..." as it is, "COM<n>" as "/dev/ttyS<n-1>", else "/dev/" + name.
// At most 31 characters of `portName` are read.
std::string DevicePathFor(const char* portName);

// Checks the baud rate and opens and configures the port; null on failure.
std::unique_ptr<SerialPort> OpenChannelPort(const ChannelConfig& config);

}  // namespace vorlan
