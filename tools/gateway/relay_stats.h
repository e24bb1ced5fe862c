#pragma once
// The driver's per-relay statistics, looked up in the loaded library like
// its other entry points. The record has the layout of VorlanRelayStats in
// vorlan/driver.h; a driver without the entry point gives no statistics.

#include <cstdint>
#include <string>

#include "vorlan/driver.h"

namespace vorlan_gateway {

struct RelayStatsRecord {
    int32_t address;
    uint32_t requestsSent;
    uint32_t answersTaken;
    uint32_t timeouts;
    uint32_t rejectedAnswers;
    uint32_t consecutiveFailures;
    FileTime lastAnswer;
};

using RelayStatsFunction = int32_t (*)(IDeviceDriver*, int32_t, RelayStatsRecord*);

// VorlanGetRelayStats of the library at `libraryPath` (already loaded), or null.
RelayStatsFunction FindRelayStats(const std::string& libraryPath);

}  // namespace vorlan_gateway
