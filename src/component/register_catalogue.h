#pragma once
// The fixed catalogue of the 20 registers a host item can name. The host gets
// a pointer to its first entry; the position is the register index that items
// and packets carry.

#include <cstdint>

#include "vorlan/driver.h"

namespace vorlan {

constexpr int32_t kRegisterCount = 20;

// Constant data of the library: valid for as long as it is loaded.
extern const RegisterDef kRegisterCatalogue[kRegisterCount];

}  // namespace vorlan
