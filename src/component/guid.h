// SPDX-License-Identifier: Apache-2.0
#pragma once
// Comparing and printing the component model's identifiers.

#include <string>

#include "vorlan/driver.h"

namespace vorlan {

bool SameGuid(const VorlanGuid& a, const VorlanGuid& b);
// Braced upper-case text: {979199EF-343D-4033-AA52-636095E3D2CE}.
std::string FormatGuid(const VorlanGuid& g);

}  // namespace vorlan
