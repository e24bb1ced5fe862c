// SPDX-License-Identifier: Apache-2.0
// The library's C entry points.

#include <cstddef>
#include <cstring>

#include "vorlan/driver.h"

#include "component/class_object.h"
#include "component/component.h"
#include "component/guid.h"
#include "component/library_lock.h"
#include "component/registration.h"
#include "platform/atom_table.h"

extern "C" {

int32_t DllGetClassObject(const VorlanGuid* clsid, const VorlanGuid* iid, void** out) {
    if (out == nullptr) return VORLAN_E_POINTER;
    *out = nullptr;
    if (clsid == nullptr || iid == nullptr) return VORLAN_E_POINTER;
    if (!vorlan::SameGuid(*clsid, CLSID_VorlanRelayPro)) return VORLAN_CLASS_E_CLASSNOTAVAILABLE;
    IVorlanClassFactory* classObject = vorlan::RelayProClassObject();
    return classObject->lpVtbl->QueryInterface(classObject, iid, out);
}

int32_t DllCanUnloadNow(void) { return vorlan::LibraryInUse() ? VORLAN_S_FALSE : VORLAN_S_OK; }

int32_t DllRegisterServer(void) {
    try {
        return vorlan::RegisterRelayPro() ? VORLAN_S_OK : VORLAN_SELFREG_E_CLASS;
    } catch (...) {
        return VORLAN_SELFREG_E_CLASS;
    }
}

int32_t VorlanGetRelayStats2(IDeviceDriver* driver, int32_t deviceIndex, VorlanRelayStats* out) {
    if (driver == nullptr || out == nullptr) return 0;
    vorlan::CRelayDriver& core = vorlan::RelayPro::Of(driver).Core();
    return core.LinkStats().Read(deviceIndex, *out, core.GetClock().TickMs()) ? 1 : 0;
}

// The record as it was before the back-off fields were appended: a host
// built against that header passes no room for them.
int32_t VorlanGetRelayStats(IDeviceDriver* driver, int32_t deviceIndex, VorlanRelayStats* out) {
    if (out == nullptr) return 0;
    VorlanRelayStats full{};
    if (VorlanGetRelayStats2(driver, deviceIndex, &full) == 0) return 0;
    std::memcpy(out, &full, offsetof(VorlanRelayStats, inBackoff));
    return 1;
}

uint32_t VorlanGetLastError(IDeviceDriver* driver, char* buffer, uint32_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    if (driver == nullptr) return 0;
    try {
        return vorlan::RelayPro::Of(driver).Core().LastOpenError(buffer, size);
    } catch (...) {
        return 0;
    }
}

uint32_t VorlanGetAtomName(uint16_t atom, char* buffer, uint32_t size) {
    return vorlan::AtomGetName(atom, buffer, size);
}

}  // extern "C"
