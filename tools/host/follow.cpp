// SPDX-License-Identifier: Apache-2.0
#include "follow.h"

#include <chrono>

#include "commands.h"

namespace vorlan_host {

bool FollowUntil(HostSession& session, size_t relay, double seconds, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    size_t turn = relay;
    while (!StopRequested() && std::chrono::steady_clock::now() < end) {
        // The driver picks whom it asks; naming the packets round the relays
        // keeps each relay's own failure marks honest.
        session.Send(turn % session.relayCount());
        ++turn;
        if (done()) return true;
    }
    return false;
}

}  // namespace vorlan_host
