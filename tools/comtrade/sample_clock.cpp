#include "sample_clock.h"

namespace comtrade {

SampleClock::SampleClock(const std::vector<Rate>& rates) {
    size_t first = 0;
    double start = 0;
    for (const Rate& rate : rates) {
        if (!(rate.hz > 0)) continue;
        const size_t end = rate.lastSample > 0 ? static_cast<size_t>(rate.lastSample) : 0;
        if (end <= first) continue;  // an empty segment: its last sample number repeats
        segments_.push_back({first, end, start, rate.hz});
        start += static_cast<double>(end - first) / rate.hz;
        first = end;
    }
}

double SampleClock::Seconds(size_t index) {
    if (segments_.empty()) return 0;
    if (at_ >= segments_.size() || index < segments_[at_].first) at_ = 0;
    while (at_ + 1 < segments_.size() && index >= segments_[at_].end) ++at_;
    const Segment& s = segments_[at_];
    // Past the table's end the last rate goes on.
    return s.start + static_cast<double>(index - s.first) / s.hz;
}

}  // namespace comtrade
