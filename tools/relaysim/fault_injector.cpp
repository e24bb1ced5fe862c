// SPDX-License-Identifier: Apache-2.0
#include "fault_injector.h"

#include "model/frame.h"
#include "sim_random.h"

namespace vorlan_sim {

FaultInjector::FaultInjector(const FaultRates& rates, uint64_t seed, std::vector<uint8_t> lineAddresses)
    : rates_(rates), seed_(seed), addresses_(std::move(lineAddresses)) {}

std::vector<LineChunk> FaultInjector::Shape(const std::vector<uint8_t>& answer) {
    if (answer.empty()) return {};
    ++counts_.answers;
    // Every decision is drawn, in a fixed order, from a stream of its own for
    // this answer: the faults of one answer don't shift those of the next.
    SimRandom g = SimRandom::Derive(seed_, ++sequence_);
    const bool drop = g.Chance(rates_.drop);
    const bool badCrc = g.Chance(rates_.badCrc);
    const bool wrongAddress = g.Chance(rates_.wrongAddress);
    const bool split = g.Chance(rates_.split);
    const bool stray = g.Chance(rates_.stray);
    const bool garbage = g.Chance(rates_.garbage);
    const int delay = rates_.delayMs + static_cast<int>(g.Range(0, rates_.jitterMs));

    if (drop) {
        ++counts_.dropped;
        return {};
    }
    std::vector<uint8_t> frame = answer;
    if (wrongAddress) {
        ++counts_.wrongAddress;
        uint8_t other = static_cast<uint8_t>(frame[0] + 1);
        std::vector<uint8_t> others;
        for (uint8_t a : addresses_) {
            if (a != frame[0]) others.push_back(a);
        }
        if (!others.empty()) other = others[static_cast<size_t>(g.Range(0, static_cast<int64_t>(others.size()) - 1))];
        frame[0] = other;
        const uint16_t crc = vorlan::ComputeCrc(frame.data(), frame.size() - vorlan::kFrameCrc);
        frame[frame.size() - 2] = static_cast<uint8_t>(crc);
        frame[frame.size() - 1] = static_cast<uint8_t>(crc >> 8);
    }
    if (badCrc) {
        ++counts_.badCrc;
        const size_t at = frame.size() - 1 - static_cast<size_t>(g.Range(0, 1));
        frame[at] ^= static_cast<uint8_t>(g.Range(1, 255));
    }
    if (stray) {
        ++counts_.stray;
        const int count = static_cast<int>(g.Range(1, 4));
        for (int i = 0; i < count; ++i) frame.push_back(static_cast<uint8_t>(g.Range(0, 255)));
    }

    std::vector<LineChunk> chunks;
    if (garbage) {
        ++counts_.garbage;
        LineChunk noise;
        noise.delayMs = delay;
        const int count = static_cast<int>(g.Range(1, 8));
        for (int i = 0; i < count; ++i) noise.bytes.push_back(static_cast<uint8_t>(g.Range(0, 255)));
        chunks.push_back(noise);
    }
    if (split && frame.size() > 1) {
        ++counts_.split;
        const size_t cut = static_cast<size_t>(g.Range(1, static_cast<int64_t>(frame.size()) - 1));
        chunks.push_back(LineChunk{delay, std::vector<uint8_t>(frame.begin(), frame.begin() + static_cast<long>(cut))});
        chunks.push_back(LineChunk{delay + rates_.splitGapMs,
                                   std::vector<uint8_t>(frame.begin() + static_cast<long>(cut), frame.end())});
    } else {
        chunks.push_back(LineChunk{delay, frame});
    }
    if (!badCrc && !wrongAddress && !stray && !garbage && !split) ++counts_.intact;
    return chunks;
}

}  // namespace vorlan_sim
