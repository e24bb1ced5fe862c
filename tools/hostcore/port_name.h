// SPDX-License-Identifier: Apache-2.0
#pragma once
// The channel's port name as the driver takes it: at most 31 characters.
// Longer names (the /dev/serial/by-id/ links) are resolved to their device
// path first; and when a port can't be opened, the likely reason.

#include <sys/types.h>

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

// The advice for a device with `mode`, its owner's name and its group: join
// the group only where that group may open the device and is not root's;
// otherwise who may open it, said plainly.
std::string PermissionAdvice(const std::string& path, mode_t mode, const std::string& owner, gid_t gid,
                             const std::string& group);

// The driver's sentence ("The port /dev/x does not exist.") as the tool's
// messages read ("the port /dev/x does not exist").
std::string DriverReasonAsClause(const std::string& sentence);

}  // namespace vorlan_host
