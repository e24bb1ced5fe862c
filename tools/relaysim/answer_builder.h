// SPDX-License-Identifier: Apache-2.0
#pragma once
// The relays of one line answering requests: finds the addressed relay and
// builds its answer frame from its state.

#include <cstdint>
#include <memory>
#include <vector>

#include "model/byte_view.h"
#include "relay_model.h"
#include "sim_config.h"

namespace vorlan_sim {

struct AnswerCounts {
    uint64_t requests = 0;       // valid requests addressed to a relay of the line
    uint64_t answers = 0;
    uint64_t broadcasts = 0;
    uint64_t timeSyncs = 0;
    uint64_t controls = 0;
    uint64_t settingReads = 0;
    uint64_t settingWrites = 0;  // stored
    uint64_t blocks = 0;         // recording blocks sent
};

class RelayLine {
public:
    RelayLine(const std::vector<RelayConfig>& relays, uint64_t seed);

    // Takes one complete, checked request frame. Returns the answer frame, or
    // an empty one when no answer goes out (broadcast, another line's address,
    // a code the relays don't know).
    std::vector<uint8_t> HandleRequest(vorlan::ByteView request);

    RelayModel* Find(uint8_t address);
    std::vector<uint8_t> Addresses() const;
    size_t size() const { return relays_.size(); }
    RelayModel& relay(size_t i) { return *relays_.at(i); }
    const AnswerCounts& counts() const { return counts_; }

private:
    std::vector<uint8_t> Poll(RelayModel& r, bool followUp);
    std::vector<uint8_t> Answer(RelayModel& r, vorlan::ByteView request);

    std::vector<std::unique_ptr<RelayModel>> relays_;
    AnswerCounts counts_;
};

// Address, command, length, data and CRC.
std::vector<uint8_t> BuildFrame(uint8_t address, uint8_t command, const std::vector<uint8_t>& data);

}  // namespace vorlan_sim
