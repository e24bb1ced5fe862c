#include "link/serial_channel.h"

#include <cstring>

#include "platform/linux_serial_port.h"

namespace vorlan {
namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// n of "COM<n>" (any case, n from 1), or 0 when `name` is not such a name.
unsigned long ComNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 12) return 0;
    if (Upper(name[0]) != 'C' || Upper(name[1]) != 'O' || Upper(name[2]) != 'M') return 0;
    unsigned long n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        n = n * 10 + static_cast<unsigned long>(name[i] - '0');  // at most 9 digits
    }
    return n;
}

}  // namespace

std::string DevicePathFor(const char* portName) {
    if (portName == nullptr) return std::string();
    const std::string name(portName, strnlen(portName, kPortNameChars));
    if (!name.empty() && name[0] == '/') return name;
    const unsigned long com = ComNumber(name);
    if (com > 0) return "/dev/ttyS" + std::to_string(com - 1);
    return "/dev/" + name;
}

SerialSettings SettingsFor(const ChannelConfig& config) {
    SerialSettings s;
    s.baudRate = config.baudRate;
    s.byteSize = config.byteSize;
    s.parity = config.parity;
    s.twoStopBits = config.stopBits == 2;
    return s;
}

std::unique_ptr<SerialPort> OpenChannelPort(const ChannelConfig& config, Clock* clock,
                                            const Rs485Settings& rs485) {
    if (config.baudRate < kMinBaudRate || config.baudRate > kMaxBaudRate) return nullptr;
    static RealClock monotonic;  // stateless; shared by ports opened without a clock
    const std::string path = DevicePathFor(config.portName);
    if (path.empty()) return nullptr;
    SerialSettings settings = SettingsFor(config);
    settings.rs485 = rs485;
    return LinuxSerialPort::Open(path, settings, clock ? *clock : monotonic);
}

}  // namespace vorlan
