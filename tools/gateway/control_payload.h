// SPDX-License-Identifier: Apache-2.0
#pragma once
// The payload of an MQTT control message on .../YK<n>/set: "close", "open",
// the same as a JSON text, or {"action":"close","id":"..."}. Anything else
// is refused with the reason, and nothing is done.

#include <cstddef>
#include <string>

namespace vorlan_gateway {

struct ControlPayload {
    bool close = false;        // false: open
    std::string id;            // the caller's id, handed back with the result
};

constexpr size_t kMaxControlPayload = 1024;
constexpr size_t kMaxControlId = 64;

// Empty text when `data` is a control; else why not.
std::string ParseControlPayload(const char* data, size_t size, ControlPayload& out);

// "YK<n>" with n in 1..64 and no other characters; 0 when it isn't.
int ControlPointOf(const std::string& item);

}  // namespace vorlan_gateway
