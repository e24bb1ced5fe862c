// SPDX-License-Identifier: Apache-2.0
#pragma once
// What makes a serial device the same device after it vanished and a device
// under its path is back: a kernel name such as /dev/ttyUSB0 or /dev/pts/4
// can return as another adapter or another terminal.

#include <sys/types.h>

#include <string>

namespace vorlan {

struct DeviceIdentity {
    bool viaLink = false;         // the path the user gave is a symbolic link
    bool pseudoTerminal = false;
    dev_t device = 0;             // the character device numbers
    // For a USB serial adapter, from sysfs; empty otherwise.
    std::string usbVendor;
    std::string usbProduct;
    std::string usbSerial;
    std::string byIdLink;         // the /dev/serial/by-id entry that named it
};

// The identity of the device open on `fd`, reached through `path`.
DeviceIdentity IdentityOf(const std::string& path, int fd);

// Whether a device just opened at the same path may be used as the one that
// was open before. A link the user gave is followed wherever it points now
// (a by-id link names the adapter itself); a pseudo-terminal reached by its
// kernel name never comes back; any other kernel name must lead to the same
// device numbers and the same USB adapter.
bool MayReopenAs(const DeviceIdentity& before, const DeviceIdentity& now);

// Whether a vanished device at this identity's path is worth trying to reopen.
bool MayEverReopen(const DeviceIdentity& before);

}  // namespace vorlan
