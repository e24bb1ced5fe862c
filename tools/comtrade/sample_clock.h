#pragma once
// Sample times from the rate table: each segment starts where the previous
// one ended, and each sample lasts one period of its own segment's rate.

#include <cstddef>
#include <vector>

#include "recording.h"

namespace comtrade {

class SampleClock {
public:
    explicit SampleClock(const std::vector<Rate>& rates);

    // Seconds from the start time of the sample at `index` (0-based). Fastest
    // when asked in ascending order, as the data is read.
    double Seconds(size_t index);

private:
    struct Segment {
        size_t first = 0, end = 0;  // sample positions [first, end)
        double start = 0, hz = 0;   // time of the first, its rate
    };
    std::vector<Segment> segments_;
    size_t at_ = 0;
};

}  // namespace comtrade
