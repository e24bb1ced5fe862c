// SPDX-License-Identifier: Apache-2.0
#pragma once
// A COMTRADE recording as read: the configuration's fields with texts in
// UTF-8, and the samples with their times on one axis, seconds from the
// configuration's start time.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace comtrade {

enum class DataFormat { kAscii, kBinary, kBinary32, kFloat32 };
const char* FormatName(DataFormat format);

struct AnalogChannel {
    long index = 0;          // as in the file; its position when the file leaves it blank
    std::string name, phase, circuit, unit;
    double a = 1.0, b = 0.0; // value = a x stored + b
    double skew = 0;         // microseconds
    double min = 0, max = 0; // range of the stored values
    double primary = 1, secondary = 1;
    char ps = 'S';           // the values are primary (P) or secondary (S)
};

struct StatusChannel {
    long index = 0;
    std::string name, phase, circuit;
    int normal = 0;          // normal state
};

struct Rate {
    double hz = 0;           // 0: times come from the timestamps
    long lastSample = 0;
};

struct Recording {
    std::string path;        // the file read (the .CFG or .CFF)
    std::vector<std::string> warnings;  // what was odd but readable, with file and line or byte
    std::string encoding;    // how the texts were decoded
    std::string station, device;
    int revision = 1991;     // as written; an unknown year is read by its field counts
    std::vector<AnalogChannel> analog;
    std::vector<StatusChannel> status;
    double lineHz = 0;
    std::vector<Rate> rates;
    int64_t startNs = 0;     // nanoseconds since 1970-01-01 of the file's own clock
    int64_t triggerNs = 0;
    DataFormat format = DataFormat::kAscii;
    double timemult = 1;
    std::string timeCode, localCode, tmqCode;  // 2013 only; blank when absent
    int leapSecond = 0;

    // One entry per sample, in file order.
    std::vector<long> numbers;
    std::vector<double> seconds;              // from the start time
    std::vector<std::vector<double>> values;  // [analog channel][sample], scaled; NaN = missing
    std::vector<std::vector<int32_t>> states; // [status channel][sample]

    size_t samplesInFile = 0;  // samples read, also when they went block by block to a sink

    size_t SampleCount() const { return numbers.size(); }
    // Whether the times come from the rate table (else from the timestamps).
    bool TimesFromRates() const;
    double TriggerSeconds() const {
        // Times at the far ends of the range lie more than 64 bits apart.
        int64_t ns;
        if (__builtin_sub_overflow(triggerNs, startNs, &ns)) return (static_cast<double>(triggerNs) - startNs) / 1e9;
        return static_cast<double>(ns) / 1e9;
    }
};

// A run of consecutive samples as they are read, so a large file never has
// to be held whole. The vectors keep their capacity from block to block.
struct SampleBlock {
    size_t first = 0;  // position in the file of the first sample here
    std::vector<long> numbers;
    std::vector<double> seconds;              // from the start time
    std::vector<std::vector<double>> values;  // [analog channel][i], scaled; NaN = missing
    std::vector<std::vector<int32_t>> states; // [status channel][i]

    size_t Size() const { return numbers.size(); }
};

using BlockSink = std::function<void(const SampleBlock&)>;

}  // namespace comtrade
