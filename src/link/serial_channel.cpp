#include "link/serial_channel.h"

#include <cerrno>

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

bool BaudRateFits(const ChannelConfig& config, OpenError* why) {
    if (config.baudRate >= kMinBaudRate && config.baudRate <= kMaxBaudRate) return true;
    if (why != nullptr) {
        why->Set(EINVAL, "The port " + DevicePathFor(config.portName) + " was not opened: the baud rate " +
                             std::to_string(config.baudRate) + " is outside " + std::to_string(kMinBaudRate) +
                             ".." + std::to_string(kMaxBaudRate) + ".");
    }
    return false;
}

std::unique_ptr<SerialPort> OpenChannelPort(const ChannelConfig& config, Clock& clock,
                                            const Rs485Settings& rs485, OpenError* why) {
    if (!BaudRateFits(config, why)) return nullptr;
    const std::string path = DevicePathFor(config.portName);
    if (path.empty()) {
        if (why != nullptr) why->Set(EINVAL, "The port name names no device.");
        return nullptr;
    }
    SerialSettings settings = SettingsFor(config);
    settings.rs485 = rs485;
    return LinuxSerialPort::Open(path, settings, clock, why);
}

}  // namespace vorlan
