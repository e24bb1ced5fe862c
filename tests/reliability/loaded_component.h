// SPDX-License-Identifier: Apache-2.0
#pragma once
// The shared library as a host loads it: one component through the class
// object, both driver interfaces, a channel on a serial path.

#include <dlfcn.h>

#include <cstring>
#include <string>

#include "vorlan/driver.h"

namespace vorlan_test {

class LoadedComponent {
public:
    LoadedComponent() {
        // Kept loaded: other tests of the program load it too.
        void* library = dlopen(VORLAN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return;
        auto getClassObject =
            reinterpret_cast<decltype(&DllGetClassObject)>(dlsym(library, "DllGetClassObject"));
        if (getClassObject == nullptr) return;
        getRelayStats_ = reinterpret_cast<decltype(&VorlanGetRelayStats)>(
            dlsym(library, "VorlanGetRelayStats2"));
        getOldRelayStats_ = reinterpret_cast<decltype(&VorlanGetRelayStats)>(
            dlsym(library, "VorlanGetRelayStats"));
        void* out = nullptr;
        if (getClassObject(&CLSID_VorlanRelayPro, &IID_IClassFactory, &out) != VORLAN_S_OK) return;
        factory_ = static_cast<IVorlanClassFactory*>(out);
        if (factory_->lpVtbl->CreateInstance(factory_, nullptr, &IID_IDeviceDriver, &out) !=
            VORLAN_S_OK) {
            return;
        }
        driver_ = static_cast<IDeviceDriver*>(out);
        if (driver_->lpVtbl->QueryInterface(driver_, &IID_IDeviceDriverControl, &out) ==
            VORLAN_S_OK) {
            control_ = static_cast<IDeviceDriverControl*>(out);
        }
    }
    ~LoadedComponent() {
        if (control_ != nullptr) control_->lpVtbl->Release(control_);
        if (driver_ != nullptr) {
            driver_->lpVtbl->CloseChannel(driver_);
            driver_->lpVtbl->Release(driver_);
        }
        if (factory_ != nullptr) factory_->lpVtbl->Release(factory_);
    }
    LoadedComponent(const LoadedComponent&) = delete;
    LoadedComponent& operator=(const LoadedComponent&) = delete;

    bool ok() const { return driver_ != nullptr && control_ != nullptr; }

    int32_t Open(const std::string& path, int32_t replyTimeout = 1000) {
        ChannelConfig channel;
        std::memset(&channel, 0, sizeof channel);
        std::strncpy(channel.portName, path.c_str(), sizeof channel.portName - 1);
        channel.baudRate = 9600;
        channel.byteSize = 8;
        channel.stopBits = 1;
        channel.replyTimeout = replyTimeout;
        return driver_->lpVtbl->OpenChannel(driver_, 0, &channel);
    }
    int32_t Add(const char* address) {
        int32_t out = 0;
        return driver_->lpVtbl->AddDevice(driver_, address, &out);
    }
    int32_t Read(HostPacket& p) { return driver_->lpVtbl->ReadPacket(driver_, &p); }
    int32_t Write(HostPacket& p) { return control_->lpVtbl->WritePacket(control_, &p); }
    int32_t Probe(int32_t address) { return driver_->lpVtbl->ProbeDevice(driver_, 0, address, 0); }
    int32_t Stats(int32_t deviceIndex, VorlanRelayStats& out) {
        return getRelayStats_ != nullptr ? getRelayStats_(driver_, deviceIndex, &out) : 0;
    }
    // The call as a host built against the record without the back-off fields makes it.
    int32_t OldStats(int32_t deviceIndex, VorlanRelayStats& out) {
        return getOldRelayStats_ != nullptr ? getOldRelayStats_(driver_, deviceIndex, &out) : 0;
    }

private:
    IVorlanClassFactory* factory_ = nullptr;
    IDeviceDriver* driver_ = nullptr;
    IDeviceDriverControl* control_ = nullptr;
    decltype(&VorlanGetRelayStats) getRelayStats_ = nullptr;
    decltype(&VorlanGetRelayStats) getOldRelayStats_ = nullptr;
};

}  // namespace vorlan_test
