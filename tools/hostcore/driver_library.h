// SPDX-License-Identifier: Apache-2.0
#pragma once
// Loads the driver the way a host does: by its programmatic identifier
// through the registration file, or by a library path, then creates a
// component through the class object. Only the C interface is used.

#include <string>

#include "vorlan/driver.h"

namespace vorlan_host {

class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // $VORLAN_REGISTRY, else $XDG_CONFIG_HOME/vorlan/registry.ini, else
    // ~/.config/vorlan/registry.ini.
    static std::string RegistryPath();
    // The library registered for `progid`; empty text on success.
    static std::string LookUp(const std::string& progid, std::string& libraryPath);

    // Loads the library and finds its exports; empty text on success.
    std::string Load(const std::string& libraryPath);
    // Runs DllRegisterServer of the loaded library.
    std::string Register();
    // Creates one component; the caller releases both interfaces.
    std::string CreateComponent(IDeviceDriver** driver, IDeviceDriverControl** control);
    // Text behind an LBTime atom; empty for an unknown atom.
    std::string AtomText(uint16_t atom) const;
    // The driver's link statistics of one registered relay; false when the
    // library has no VorlanGetRelayStats or nothing is registered there.
    bool RelayStats(IDeviceDriver* driver, int32_t deviceIndex, VorlanRelayStats& out) const;

    // Why the component's last OpenChannel refused, as the driver's
    // sentence; empty when it has nothing to say or the library predates it.
    std::string LastOpenError(IDeviceDriver* driver) const;

    const std::string& path() const { return path_; }

private:
    void* handle_ = nullptr;
    std::string path_;
    int32_t (*getClassObject_)(const VorlanGuid*, const VorlanGuid*, void**) = nullptr;
    int32_t (*registerServer_)() = nullptr;
    uint32_t (*atomName_)(uint16_t, char*, uint32_t) = nullptr;
    int32_t (*relayStats_)(IDeviceDriver*, int32_t, VorlanRelayStats*) = nullptr;
    uint32_t (*lastError_)(IDeviceDriver*, char*, uint32_t) = nullptr;
};

}  // namespace vorlan_host
