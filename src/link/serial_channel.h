#pragma once
// Opening the serial port from the host's channel settings.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/open_error.h"
#include "platform/serial_port.h"
#include "vorlan/driver.h"

namespace vorlan {

constexpr int32_t kMinBaudRate = VORLAN_MIN_BAUD;
constexpr int32_t kMaxBaudRate = VORLAN_MAX_BAUD;
constexpr size_t kPortNameChars = VORLAN_PORT_NAME_CHARS;  // the host's 32-byte field less its NUL

// "/..." as it is, "COM<n>" as "/dev/ttyS<n-1>", else "/dev/" + name.
// At most 31 characters of `portName` are read.
std::string DevicePathFor(const char* portName);

// The line settings the channel asks for: stop bits 2 give two, any other
// value one; byte size and parity are passed on unchanged.
SerialSettings SettingsFor(const ChannelConfig& config);

// True when the channel's baud rate is one OpenChannel accepts; otherwise
// `why` (when given) says so, with EINVAL.
bool BaudRateFits(const ChannelConfig& config, OpenError* why = nullptr);

// Checks the baud rate and opens and configures the port, with `rs485`
// direction control when on; null on failure, and `why` (when given) then
// says why. The driver's `clock` times the port's waits and paces the
// reopening of a vanished device; it must outlive the port.
std::unique_ptr<SerialPort> OpenChannelPort(const ChannelConfig& config, Clock& clock,
                                            const Rs485Settings& rs485 = Rs485Settings{},
                                            OpenError* why = nullptr);

}  // namespace vorlan
