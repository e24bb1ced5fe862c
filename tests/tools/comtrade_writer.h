#pragma once
// Writes COMTRADE test recordings from what a test puts in: configuration
// lines of the 1991, 1999 and 2013 layouts, data in the four formats with
// missing-value markers, and single .CFF files.

#include <cmath>
#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace comtrade_test {

constexpr double kGap = NAN;  // a missing value in `raw`
constexpr int64_t kNoStamp = INT64_MIN;  // a missing time stamp in `stamps`

struct AnalogIn {
    std::string name, phase = "A", unit = "A";  // bytes as they go into the file
    double a = 1, b = 0;
    std::vector<double> raw;  // stored values; kGap is written as the format's marker
};

struct StatusIn {
    std::string name;
    std::vector<int32_t> values;
};

struct RecordingIn {
    std::string station = "Station", device = "Dev1";
    int revision = 1999;      // 1991 writes no year and 10/3-field channel lines
    std::string format = "ASCII";
    std::vector<AnalogIn> analog;
    std::vector<StatusIn> status;
    std::vector<std::pair<double, long>> rates;  // empty: "0" rates and "0,count"
    std::vector<int64_t> stamps;                 // per sample; default i x 1000
    double timemult = 1;
    std::string start = "05/03/2024,13:04:05.000000";
    std::string trigger = "05/03/2024,13:04:05.002000";
    std::string lineEnd = "\r\n";

    size_t Samples() const;
    // Scaled value a x raw + b of analog channel j at sample i; NaN when missing.
    double Scaled(size_t j, size_t i) const;
};

std::string ConfigText(const RecordingIn& r);
std::string DataBytes(const RecordingIn& r);
// One .CFF: CFG, INF and HDR sections, then the DAT section (binary ones with their byte count).
std::string CffBytes(const RecordingIn& r);
// base.CFG and base.DAT.
void WritePair(const std::string& base, const RecordingIn& r);

// A sine-like ramp of `n` integers, with gaps at the positions listed.
std::vector<double> Wave(size_t n, double amplitude, std::vector<size_t> gaps = {});

}  // namespace comtrade_test
