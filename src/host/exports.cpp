#include "vorlan/driver.h"

#include "platform/atom_table.h"

// Placeholder until the component lands.
extern "C" {
int32_t DllGetClassObject(const VorlanGuid*, const VorlanGuid*, void** out) {
    if (out) *out = nullptr;
    return VORLAN_CLASS_E_CLASSNOTAVAILABLE;
}
int32_t DllCanUnloadNow(void) { return 0; }
int32_t DllRegisterServer(void) { return VORLAN_SELFREG_E_CLASS; }
uint32_t VorlanGetAtomName(uint16_t atom, char* buffer, uint32_t size) {
    return vorlan::AtomGetName(atom, buffer, size);
}
}
