// SPDX-License-Identifier: Apache-2.0
#pragma once
// The device table as the frame exchange looks relays up in it.

#include "link/relay_lookup.h"
#include "model/device_record.h"

namespace vorlan {

class PollingRelays final : public RelayLookup {
public:
    explicit PollingRelays(PollingState& state) : state_(state) {}

    bool Find(uint8_t address, LinkRelay& relay) override {
        const DeviceRecord* found = state_.FindDevice(address);
        if (found == nullptr) return false;
        relay.address = found->address;
        relay.traced = found->host.traceOn == VORLAN_SHOW_ON;
        relay.slowAnswer = found->conversation.nextCommand == Request::SettingRead;
        return true;
    }

private:
    PollingState& state_;
};

}  // namespace vorlan
