// SPDX-License-Identifier: Apache-2.0
#pragma once
// A small deterministic generator (SplitMix64). The same seed gives the same
// sequence on every machine and standard library, so simulated lines replay.

#include <cstdint>

namespace vorlan_sim {

class SimRandom {
public:
    explicit SimRandom(uint64_t seed = 1) : state_(seed) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    // Uniform integer in [lo, hi]; lo when hi < lo.
    int64_t Range(int64_t lo, int64_t hi) {
        if (hi <= lo) return lo;
        const uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
        return lo + static_cast<int64_t>(Next() % span);
    }
    bool Chance(double rate) { return rate > 0.0 && Uniform() < rate; }

    // An independent stream derived from a seed and a counter.
    static SimRandom Derive(uint64_t seed, uint64_t counter) {
        SimRandom mix(seed ^ (counter * 0xD1B54A32D192ED03ULL));
        return SimRandom(mix.Next());
    }

private:
    uint64_t state_;
};

}  // namespace vorlan_sim
