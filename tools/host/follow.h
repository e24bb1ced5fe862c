// SPDX-License-Identifier: Apache-2.0
#pragma once
// Following a one-shot write: keep the polling going with Send packets
// until a register shows the outcome or the time is up.

#include <functional>

#include "host_session.h"

namespace vorlan_host {

// Sends round the relays, starting with `relay`, until `done` returns true
// (checked after every Send), `seconds` have passed or a stop is requested.
bool FollowUntil(HostSession& session, size_t relay, double seconds, const std::function<bool()>& done);

}  // namespace vorlan_host
