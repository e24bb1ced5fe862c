#pragma once
// A remote control as the lines take it: which point, which way, by when
// someone still waits for it, and where its outcome goes.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace vorlan_gateway {

enum class ControlResult { Done, Refused, Failed, TimedOut, LineDown, Stopping };

struct ControlOutcome {
    ControlResult result = ControlResult::Failed;
    std::string reason;          // empty when done
};

// "done", "refused", "failed", "timeout", "line_down", "stopping"
const char* ControlResultName(ControlResult r);

using ControlClock = std::chrono::steady_clock;

struct ControlOrder {
    size_t relay = 0;            // place on the line
    int point = 0;               // YK point 1..64
    bool close = false;
    // Past this nobody waits for the outcome: the control must not reach the line.
    ControlClock::time_point deadline = ControlClock::time_point::max();
    std::function<void(const ControlOutcome&)> done;   // called once, on the line's thread or the caller's
};

}  // namespace vorlan_gateway
