#include "link/serial_channel.h"


#include "platform/linux_serial_port.h"

namespace vorlan {
std::string DevicePathFor(const char* portName) {
    char path[64];
    const uint32_t length = VorlanPortDevicePath(portName, path, sizeof path);
    return std::string(path, length);
}

SerialSettings SettingsFor(const ChannelConfig& config) {
    SerialSettings s;
    s.baudRate = config.baudRate;
    s.byteSize = config.byteSize;
    s.parity = config.parity;
    s.twoStopBits = config.stopBits == 2;
    return s;
}

std::unique_ptr<SerialPort> OpenChannelPort(const ChannelConfig& config, Clock& clock,
                                            const Rs485Settings& rs485) {
    if (config.baudRate < kMinBaudRate || config.baudRate > kMaxBaudRate) return nullptr;
    const std::string path = DevicePathFor(config.portName);
    if (path.empty()) return nullptr;
    SerialSettings settings = SettingsFor(config);
    settings.rs485 = rs485;
    return LinuxSerialPort::Open(path, settings, clock);
}

}  // namespace vorlan
