// SPDX-License-Identifier: Apache-2.0
#include "relay_stats.h"

#include <dlfcn.h>

namespace vorlan_gateway {

RelayStatsFunction FindRelayStats(const std::string& libraryPath) {
    // The host's loader keeps its handle; asking again for the loaded library
    // gives another reference to the same one.
    void* handle = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_LOCAL);
    if (!handle) return nullptr;
    // The whole record where the library has it, else the fields up to lastAnswer.
    void* whole = dlsym(handle, "VorlanGetRelayStats2");
    return reinterpret_cast<RelayStatsFunction>(whole ? whole : dlsym(handle, "VorlanGetRelayStats"));
}

}  // namespace vorlan_gateway
