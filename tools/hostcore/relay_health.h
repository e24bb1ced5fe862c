// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the driver knows about each relay's link: its own counts (the driver
// chooses whom each Send packet serves, so only it can credit the right
// relay) and whether the relay's values can be trusted.

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "vorlan/driver.h"

namespace vorlan_host {

enum class RelayState { Ok, NoAnswer, Stale };

// Failed exchanges in a row after which the driver serves a relay's values
// as last known.
constexpr uint32_t kStaleAfterFailures = VORLAN_STALE_AFTER_FAILURES;

struct RelayHealth {
    bool known = false;        // the driver gave its statistics; if not, the state is Ok
    VorlanRelayStats stats{};
    RelayState state = RelayState::NoAnswer;
    int64_t lastAnswer = 0;    // FILETIME, 0 when never
};

RelayHealth HealthOf(bool known, const VorlanRelayStats& stats);

// "ok", "no-answer", "stale".
const char* StateName(RelayState state);
// "answering", "no answer yet", "stale since 2026-12-08T09:03:50.123+08:00".
std::string StateText(const RelayHealth& health);
// ", retrying every 4 s" while the driver backs the silent relay off, else empty.
std::string RetryText(const VorlanRelayStats& stats);
// The counts and the state as JSON fields.
nlohmann::json HealthJson(const RelayHealth& health);

}  // namespace vorlan_host
