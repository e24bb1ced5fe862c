#include "link/serial_channel.h"

// Placeholder until the Linux serial port lands.
namespace vorlan {
std::string DevicePathFor(const char* portName) { return portName ? portName : ""; }
std::unique_ptr<SerialPort> OpenChannelPort(const ChannelConfig&) { return nullptr; }
}  // namespace vorlan
