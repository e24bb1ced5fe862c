// SPDX-License-Identifier: Apache-2.0
#include "fault_recordings.h"

#include <algorithm>
#include <cmath>

#include "sim_random.h"

namespace vorlan_sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLineHz = 50.0;
constexpr double kLoadAmps = 800.0;      // raw counts
constexpr double kFaultAmps = 6000.0;
constexpr double kOffsetAmps = 3000.0;   // decaying DC offset at fault inception
constexpr double kOffsetTau = 0.03;      // seconds
constexpr double kVolts = 10000.0;
constexpr double kFaultVolts = 2500.0;
constexpr int16_t kBatteryCounts = 2200; // 220.0 V station battery

struct Timeline {
    int faultStart;   // first sample of the fault
    int tripOut;      // trip contact closes
    int breakerOpen;  // currents gone
};

Timeline TimelineOf(const Recording& r) {
    const int last = r.lastSample;
    Timeline t;
    t.faultStart = std::max(1, last * 3 / 10);
    const int faultLength = std::max(4, (last - t.faultStart) * 6 / 10);
    t.breakerOpen = std::min(last, t.faultStart + faultLength);
    t.tripOut = t.faultStart + std::max(2, faultLength / 2);
    return t;
}

double Noise(const Recording& r, size_t j, uint16_t a) {
    SimRandom g = SimRandom::Derive(r.id, (static_cast<uint64_t>(j) << 16) | a);
    return (g.Uniform() - 0.5) * 40.0;
}

int16_t Clamp(double v) {
    return static_cast<int16_t>(std::lround(std::max(-32767.0, std::min(32767.0, v))));
}

double PhaseCurrent(const Recording& r, const Timeline& t, int phase, uint16_t a) {
    if (a >= t.breakerOpen) return 0.0;
    const double seconds = static_cast<double>(a) / r.sampleRate;
    const double angle = 2 * kPi * kLineHz * seconds - phase * 2 * kPi / 3;
    if (phase == r.faultedPhase && a >= t.faultStart) {
        const double since = static_cast<double>(a - t.faultStart) / r.sampleRate;
        return kFaultAmps * std::sin(angle - 1.3) + kOffsetAmps * std::exp(-since / kOffsetTau);
    }
    return kLoadAmps * std::sin(angle - 0.5);
}

double PhaseVoltage(const Recording& r, const Timeline& t, int phase, uint16_t a) {
    const double seconds = static_cast<double>(a) / r.sampleRate;
    const double angle = 2 * kPi * kLineHz * seconds - phase * 2 * kPi / 3;
    const bool sagging = phase == r.faultedPhase && a >= t.faultStart && a < t.breakerOpen;
    return (sagging ? kFaultVolts : kVolts) * std::sin(angle);
}

}  // namespace

std::vector<Recording> MakeRecordings(const RelayConfig& config, uint64_t seed) {
    std::vector<Recording> out;
    SimRandom g = SimRandom::Derive(seed, 0x5EC0 + config.address);
    for (int k = 0; k < config.recordings; ++k) {
        Recording r;
        r.id = static_cast<uint32_t>(config.address) * 100 + static_cast<uint32_t>(k) + 1;
        r.second = static_cast<uint32_t>(g.Range(0, 59));
        r.fraction = static_cast<uint32_t>(g.Range(0, 999999));
        r.lastSample = static_cast<uint16_t>(config.recordingSamples);
        r.faultedPhase = static_cast<int>(r.id % 3);
        out.push_back(r);
    }
    return out;
}

void WriteListEntry(const Recording& r, uint8_t out[20]) {
    auto put = [&](size_t at, uint32_t v, size_t n) {
        for (size_t i = 0; i < n; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(0, r.id, 4);
    put(4, r.second, 4);
    put(8, r.fraction, 4);
    put(12, r.sampleRate, 4);
    put(16, r.lastSample, 2);
    put(18, 0, 2);
}

int16_t AnalogValue(const Recording& r, size_t j, uint16_t a) {
    const Timeline t = TimelineOf(r);
    double v = 0;
    switch (j) {
        case 0: case 1: case 2:   // Ia Ib Ic
            v = PhaseCurrent(r, t, static_cast<int>(j), a);
            break;
        case 3:                   // 3I0
            v = PhaseCurrent(r, t, 0, a) + PhaseCurrent(r, t, 1, a) + PhaseCurrent(r, t, 2, a);
            break;
        case 4: case 5: case 6:   // Ua Ub Uc
            v = PhaseVoltage(r, t, static_cast<int>(j - 4), a);
            break;
        case 7:                   // 3U0
            v = PhaseVoltage(r, t, 0, a) + PhaseVoltage(r, t, 1, a) + PhaseVoltage(r, t, 2, a);
            break;
        case 8: case 9: case 10:  // line voltages Uab Ubc Uca
            v = PhaseVoltage(r, t, static_cast<int>(j - 8), a) -
                PhaseVoltage(r, t, static_cast<int>((j - 7) % 3), a);
            v *= 0.57735;         // kept on the phase-voltage scale
            break;
        case 11: case 12: case 13:  // a second current transformer, half ratio
            v = 0.5 * PhaseCurrent(r, t, static_cast<int>(j - 11), a);
            break;
        case 14:                  // bus-coupler current, unloaded
            v = 0;
            break;
        default:                  // station battery
            return static_cast<int16_t>(kBatteryCounts + static_cast<int>(Noise(r, j, a) / 10));
    }
    return Clamp(v + Noise(r, j, a));
}

uint8_t DigitalByte(const Recording& r, size_t word, uint16_t a) {
    const Timeline t = TimelineOf(r);
    if (word == 0) {
        uint8_t b = 0;
        if (a >= t.faultStart && a < t.breakerOpen + 3) b |= 0x01;  // pick-up
        if (a >= t.tripOut && a < t.breakerOpen + 3) b |= 0x02;     // trip output
        if (a >= t.breakerOpen) b |= 0x04;                          // breaker open
        return b;
    }
    uint8_t b = 0x80;                                               // recloser ready
    if (a >= t.faultStart && a < t.breakerOpen) b |= static_cast<uint8_t>(1u << r.faultedPhase);
    return b;
}

void WriteSample(const Recording& r, uint16_t a, uint8_t out[kSampleBytes]) {
    const uint32_t micros = static_cast<uint32_t>(static_cast<uint64_t>(a) * 1000000u / r.sampleRate);
    out[0] = static_cast<uint8_t>(a);
    out[1] = static_cast<uint8_t>(a >> 8);
    for (size_t i = 0; i < 4; ++i) out[2 + i] = static_cast<uint8_t>(micros >> (8 * i));
    for (size_t j = 0; j < kAnalogChannels; ++j) {
        const uint16_t v = static_cast<uint16_t>(AnalogValue(r, j, a));
        out[6 + 2 * j] = static_cast<uint8_t>(v);
        out[7 + 2 * j] = static_cast<uint8_t>(v >> 8);
    }
    out[38] = DigitalByte(r, 0, a);
    out[39] = DigitalByte(r, 1, a);
}

}  // namespace vorlan_sim
