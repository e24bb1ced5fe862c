// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the frame exchange needs to know of the relays on the line, and
// nothing more: the device table stays above the link.

#include <cstdint>

namespace vorlan {

// A registered relay as the exchange sees it.
struct LinkRelay {
    uint8_t address = 0;
    bool traced = false;      // mirror its traffic to the monitor
    bool slowAnswer = false;  // its answer comes late (a setting read)
};

class RelayLookup {
public:
    virtual ~RelayLookup() = default;
    // The first registered relay with `address`, made the current one for
    // the answer that follows; false when none has it.
    virtual bool Find(uint8_t address, LinkRelay& relay) = 0;
};

}  // namespace vorlan
