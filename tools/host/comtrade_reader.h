#pragma once
// Reads a COMTRADE recording (1991 layout, ASCII data): the .CFG with its
// channel definitions and the .DAT beside it.

#include <string>
#include <vector>

namespace vorlan_host {

struct AnalogChannel {
    std::string id;         // as in the file (the relays' files carry GBK)
    std::string phase;
    std::string circuit;
    std::string unit;
    double a = 1.0;         // value = a x sample + b
    double b = 0.0;
};

struct ComtradeSample {
    long number = 0;
    double timeUs = 0;
    std::vector<double> analog;   // scaled
    std::vector<long> digital;
};

struct Comtrade {
    std::string station;
    std::string device;
    std::vector<AnalogChannel> analog;
    std::vector<std::string> digital;  // channel ids
    double lineHz = 50;
    double sampleRate = 0;
    long lastSample = 0;
    std::string startTime;
    std::string triggerTime;
    std::vector<ComtradeSample> samples;
    // Seconds from the first sample to the trigger, from the two time lines.
    double TriggerOffsetSeconds() const;
};

// Reads `cfgPath` and the data file with the same base name (.DAT or .dat).
// Empty text on success, else what is wrong, with the line.
std::string ReadComtrade(const std::string& cfgPath, Comtrade& out);

}  // namespace vorlan_host
