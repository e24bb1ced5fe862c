// SPDX-License-Identifier: Apache-2.0
// MQTT control payloads as any client may send them: arbitrary bytes through
// the parser. A payload taken must be a whole control: an action and an id
// of printable bytes within the bound.

#include <cstdint>
#include <cstdlib>

#include "control_payload.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorlan_gateway::ControlPayload control;
    const std::string error =
        vorlan_gateway::ParseControlPayload(reinterpret_cast<const char*>(data), size, control);
    if (error.empty()) {
        if (control.id.size() > vorlan_gateway::kMaxControlId) std::abort();
        for (char c : control.id) {
            if (static_cast<unsigned char>(c) < 0x20) std::abort();
        }
    } else if (!control.id.empty()) {
        std::abort();   // a refused payload leaves nothing behind
    }
    return 0;
}
