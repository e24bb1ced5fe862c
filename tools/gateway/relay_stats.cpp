// SPDX-License-Identifier: Apache-2.0
#include "relay_stats.h"

#include <dlfcn.h>

namespace vorlan_gateway {

RelayStatsFunction FindRelayStats(const std::string& libraryPath) {
    // The host's loader keeps its handle; asking again for the loaded library
    // gives another reference to the same one.
    void* handle = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_LOCAL);
    if (!handle) return nullptr;
    return reinterpret_cast<RelayStatsFunction>(dlsym(handle, "VorlanGetRelayStats"));
}

}  // namespace vorlan_gateway
