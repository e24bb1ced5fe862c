#pragma once
// The channel's port name as the driver takes it: at most 31 characters.
// Longer names (the /dev/serial/by-id/ links) are resolved to their device
// path first; and when a port can't be opened, the likely reason.

#include <string>

#include "vorlan/driver.h"

namespace vorlan_host {

constexpr size_t kMaxPortName = VORLAN_PORT_NAME_CHARS;

// The device path behind a port name as the driver looks it up.
std::string PortDevicePath(const std::string& port);

// The name to give the driver: `port` itself when it fits, else the device
// path it resolves to. `note` says what was done; `error` is set when a long
// name can't be resolved to one that fits.
std::string PortNameForDriver(const std::string& port, std::string& note, std::string& error);

// Why `path` can't be opened by this user, with what to do; empty when the
// permissions are not the reason.
std::string PortPermissionAdvice(const std::string& path);

}  // namespace vorlan_host
