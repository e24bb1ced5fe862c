#pragma once
// What an engineer reads from a fault recording: the one-cycle RMS of each
// analog channel over time, its fundamental phasor (RMS magnitude, angle
// referred to one channel), the sequence components of three-phase sets,
// harmonics 2..15 with the THD, and the times each digital channel (or each
// bit of a status word) changed. Fed block by block as the data is read.
// Times are seconds from the trigger.

#include <cmath>
#include <complex>
#include <memory>
#include <string>
#include <vector>

#include "recording.h"

namespace comtrade {

struct AnalysisOptions {
    double hz = 0;                  // line frequency; 0: the file's
    double at = 0;                  // seconds from the trigger, with `atGiven`
    bool atGiven = false;           // else one cycle after the trigger
    std::string reference;          // channel name; blank: the first analog channel
    std::vector<std::vector<std::string>> sets;  // A,B,C channel names; none: from the configuration
    size_t maxChanges = 1000;       // listed per digital channel or bit
};

struct Phasor {
    double magnitude = NAN;         // RMS
    double degrees = NAN;           // referred to the reference channel
};

struct ChannelResult {
    double rms = NAN;               // one-cycle RMS at the time asked
    Phasor fundamental;
    std::vector<double> harmonics;  // RMS of orders 2..15; NaN past half the sampling rate
    double thd = NAN;               // of the orders that could be measured, as a fraction
};

struct SetResult {
    std::vector<size_t> channels;   // phases A, B, C
    Phasor zero, positive, negative;
};

struct Change {
    double seconds;
    int32_t value;
};

struct DigitalResult {
    std::string name;               // the channel's, or name.bitN for a bit of a status word
    int32_t initial = 0;
    std::vector<Change> changes;
    size_t more = 0;                // changes past the listed ones
};

struct Series {
    std::vector<double> seconds;    // end of each one-cycle window, one per cycle
    std::vector<std::vector<double>> rms, magnitude, degrees;  // [channel][row]
};

struct Analysis {
    double hz = 0;
    bool hzFromFile = true;
    double at = 0;                  // the time asked
    double windowEnd = NAN;         // the last sample of the window used for it
    size_t reference = 0;
    std::vector<ChannelResult> channels;
    std::vector<SetResult> sets;
    std::vector<DigitalResult> digital;
    Series series;
};

// Harmonic orders reported.
constexpr int kFirstHarmonic = 2, kLastHarmonic = 15;

class Analyser {
public:
    // Empty text when the options fit `header`'s configuration (a line
    // frequency, channel names that exist), else what is wrong.
    static std::string Check(const Recording& header, const AnalysisOptions& options);

    Analyser(const Recording& header, const AnalysisOptions& options);
    ~Analyser();
    void Add(const SampleBlock& block);
    Analysis Finish();

private:
    struct State;
    std::unique_ptr<State> s_;
};

// Three-phase sets of the configuration: channels of one circuit and unit
// with phases A, B and C (or L1, L2, L3).
std::vector<std::vector<size_t>> FindSets(const Recording& header);

// Zero, positive and negative sequence of the phasors a, b, c.
void Sequences(std::complex<double> a, std::complex<double> b, std::complex<double> c, std::complex<double> out[3]);

// One-cycle RMS ending at every sample of analog channel `j` of a recording
// held whole (NaN until a cycle is complete, or with a value missing).
std::vector<double> RunningRms(const Recording& r, size_t j, double hz);

}  // namespace comtrade
