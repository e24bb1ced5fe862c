// SPDX-License-Identifier: Apache-2.0
#pragma once
// Synthetic fault recordings: a single-phase fault on a 50 Hz line, sampled
// at 1 kHz, with 16 analog channels and two digital bytes per sample.

#include <cstdint>
#include <vector>

#include "sim_config.h"

namespace vorlan_sim {

constexpr size_t kSampleBytes = 40;     // number 2, time 4, 16 analog x 2, 2 digital
constexpr size_t kAnalogChannels = 16;
constexpr uint32_t kRecordingSampleRate = 1000;

struct Recording {
    uint32_t id = 0;
    uint32_t second = 0;        // second of the fault, as the relay lists it
    uint32_t fraction = 0;      // microseconds within that second
    uint32_t sampleRate = kRecordingSampleRate;
    uint16_t lastSample = 0;    // samples are numbered 0..lastSample
    int faultedPhase = 0;       // 0, 1, 2 = A, B, C
};

std::vector<Recording> MakeRecordings(const RelayConfig& config, uint64_t seed);

// The 20-byte list entry of answer 0xC9.
void WriteListEntry(const Recording& r, uint8_t out[20]);

// Sample `a` (0..lastSample) in the 40-byte layout of answer 0xCB.
void WriteSample(const Recording& r, uint16_t a, uint8_t out[kSampleBytes]);

// Analog value of channel `j` at sample `a`, and the two digital bytes.
int16_t AnalogValue(const Recording& r, size_t j, uint16_t a);
uint8_t DigitalByte(const Recording& r, size_t word, uint16_t a);

}  // namespace vorlan_sim
