// SPDX-License-Identifier: Apache-2.0
#pragma once
// The class object of "Vorlan.RelayPro": one static instance that creates
// components. It lives as long as the library; its references are counted
// but never free it.

#include "vorlan/driver.h"

namespace vorlan {

IVorlanClassFactory* RelayProClassObject();

}  // namespace vorlan
