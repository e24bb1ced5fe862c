// SPDX-License-Identifier: Apache-2.0
#pragma once
// Turns an answer frame into what actually goes on the line: on time or
// late, whole or split, with a bad CRC, another relay's address, stray bytes
// after it or noise before it, or not at all. Every decision comes from the
// seed and the answer's sequence number, so a seed replays the same faults.

#include <cstdint>
#include <vector>

#include "sim_config.h"

namespace vorlan_sim {

// Bytes to write `delayMs` after the request arrived.
struct LineChunk {
    int delayMs = 0;
    std::vector<uint8_t> bytes;
};

struct FaultCounts {
    uint64_t answers = 0;
    uint64_t dropped = 0;
    uint64_t badCrc = 0;
    uint64_t wrongAddress = 0;
    uint64_t split = 0;
    uint64_t stray = 0;
    uint64_t garbage = 0;
    uint64_t intact = 0;  // sent whole, unchanged, with nothing around it
};

class FaultInjector {
public:
    FaultInjector(const FaultRates& rates, uint64_t seed, std::vector<uint8_t> lineAddresses);

    // The chunks for one answer, in time order; none when it is dropped.
    std::vector<LineChunk> Shape(const std::vector<uint8_t>& answer);

    const FaultCounts& counts() const { return counts_; }

private:
    FaultRates rates_;
    uint64_t seed_;
    std::vector<uint8_t> addresses_;
    uint64_t sequence_ = 0;
    FaultCounts counts_;
};

}  // namespace vorlan_sim
