/* SPDX-License-Identifier: Apache-2.0 */
/*
 * A host linked against libvorlan instead of loading it: creates one
 * component and lists the register catalogue it hands out.
 */
#include <stdio.h>

#include "vorlan/driver.h"

int main(void) {
    IVorlanClassFactory *factory = NULL;
    IDeviceDriver *driver = NULL;
    if (DllGetClassObject(&CLSID_VorlanRelayPro, &IID_IClassFactory, (void **)&factory) != VORLAN_S_OK ||
        factory->lpVtbl->CreateInstance(factory, NULL, &IID_IDeviceDriver, (void **)&driver) != VORLAN_S_OK) {
        fprintf(stderr, "no component\n");
        return 1;
    }
    factory->lpVtbl->Release(factory);

    const RegisterDef *table = NULL;
    int32_t count = 0;
    driver->lpVtbl->GetRegisterTable(driver, 0, &table, &count);
    for (int32_t i = 0; i < count; ++i) {
        printf("%2d %-8.8s addresses %d..%d, types 0x%x\n", (int)i, table[i].name,
               (int)table[i].minAddress, (int)table[i].maxAddress, (unsigned)table[i].typeMask);
    }
    driver->lpVtbl->Release(driver);
    return count == VORLAN_REG_COUNT && DllCanUnloadNow() == VORLAN_S_OK ? 0 : 1;
}
