// SPDX-License-Identifier: Apache-2.0
#pragma once
// Asks before anything goes to a relay that operates a breaker or changes
// its settings: on a terminal the user says yes; without a terminal only
// --yes lets it through, so a script never operates a relay by accident.

#include <string>

#include "exit_codes.h"

namespace vorlan_host {

// `what` is the action in words ("close point 3 of relay 2 (name)").
Status ConfirmChange(const std::string& what, bool yes);

}  // namespace vorlan_host
