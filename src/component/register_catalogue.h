// SPDX-License-Identifier: Apache-2.0
#pragma once
// The fixed catalogue of the registers a host item can name. The host gets a
// pointer to its first entry; the position is the register index
// (VorlanRegister) that items and packets carry.

#include "vorlan/driver.h"

namespace vorlan {

// Constant data of the library: valid for as long as it is loaded.
extern const RegisterDef kRegisterCatalogue[VORLAN_REG_COUNT];

}  // namespace vorlan
