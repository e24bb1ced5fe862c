// SPDX-License-Identifier: Apache-2.0
// The COMTRADE reader over arbitrary bytes. The first byte picks the layout:
// even, a configuration and a data file split at the first "\n#DAT\n";
// odd, one .CFF. A recording that reads has one value per sample in every
// channel and times for every sample.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "date_time.h"
#include "reader.h"

namespace {

void Check(const comtrade::Recording& r) {
    const size_t n = r.SampleCount();
    if (r.seconds.size() != n || r.values.size() != r.analog.size() || r.states.size() != r.status.size()) std::abort();
    for (const auto& v : r.values) {
        if (v.size() != n) std::abort();
        for (double x : v) {
            if (std::isinf(x)) std::abort();
        }
    }
    for (const auto& s : r.states) {
        if (s.size() != n) std::abort();
    }
    if (r.rates.empty() || static_cast<long>(n) != r.rates.back().lastSample || r.samplesInFile != n) std::abort();
    (void)comtrade::IsoText(r.startNs);
    (void)comtrade::IsoText(r.triggerNs);
    (void)r.TriggerSeconds();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    comtrade::Recording r;
    std::string error;
    if (data[0] % 2 == 1) {
        error = comtrade::ReadCff("f.CFF", input, {}, r);
    } else {
        const size_t cut = input.find("\n#DAT\n");
        const std::string cfg = input.substr(0, cut);
        const std::string dat = cut == std::string::npos ? std::string() : input.substr(cut + 6);
        error = comtrade::ReadPair("f.CFG", cfg, "f.DAT", dat, {}, r);
    }
    if (error.empty()) Check(r);
    return 0;
}
