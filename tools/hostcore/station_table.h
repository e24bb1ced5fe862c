// SPDX-License-Identifier: Apache-2.0
#pragma once
// The station reader on an already parsed table, for programs whose own
// files carry stations inside them with a few keys of their own.

#include <set>
#include <string>
#include <toml++/toml.h>

#include "station_file.h"

namespace vorlan_host {

// Keys the caller reads itself, so the station reader lets them pass.
struct StationExtraKeys {
    std::set<std::string> station;   // beside name, driver, channel, relay
    std::set<std::string> relay;     // beside address, name, items
    std::string what;                // how errors name the table; "the station file" when empty
};

// Empty text on success, else "line N: what".
std::string ReadStationTable(const toml::table& table, Station& station, const StationExtraKeys& extra);

}  // namespace vorlan_host
