// SPDX-License-Identifier: Apache-2.0
#pragma once
// The driver's per-relay statistics (VorlanGetRelayStats), looked up in the
// loaded library like its other entry points; an older driver without it
// gives no statistics.

#include <cstdint>
#include <string>

#include "vorlan/driver.h"

namespace vorlan_gateway {

using RelayStatsRecord = VorlanRelayStats;

using RelayStatsFunction = int32_t (*)(IDeviceDriver*, int32_t, RelayStatsRecord*);

// VorlanGetRelayStats of the library at `libraryPath` (already loaded), or null.
RelayStatsFunction FindRelayStats(const std::string& libraryPath);

}  // namespace vorlan_gateway
