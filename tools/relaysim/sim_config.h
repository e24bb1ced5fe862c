// SPDX-License-Identifier: Apache-2.0
#pragma once
// What a simulated line is made of: the serial side, the relays on it and
// the faults to inject. Filled from command-line options and TOML files.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/relay_zone.h"

namespace vorlan_sim {

enum class SettingLayout { Coded, Float };  // answers 0xBD and 0xAD

struct RelayConfig {
    uint8_t address = 1;         // 0..32
    int type = 21;               // relay type code reported with the settings
    SettingLayout layout = SettingLayout::Coded;
    int measurements = 16;       // 1..64
    int statusGroups = 4;        // 1..64 groups of eight inputs
    int counters = 8;            // 0..20
    int zones = 4;               // setting zones 0..zones-1, 1..16
    int settings = 12;           // settings per zone, 1..60
    int byteSettings = 4;        // 1-byte settings, 0..16 (coded list: one-digit values)
    int recordings = 2;          // 0..4
    int recordingSamples = 80;   // last sample number of each recording, 1..239
    double changeRate = 0.05;    // chance per poll that a status input changes
    double busyRate = 0.02;      // chance per poll of a 0xB0 or 0xBA answer
    int silentAfter = 0;         // answers this many requests, then falls silent; 0: never
    vorlan::RelayZone clockZone; // the zone the relay's clock keeps until a time synchronisation: UTC+8
};

struct FaultRates {
    double drop = 0;             // no answer at all
    double badCrc = 0;           // one CRC byte changed
    double wrongAddress = 0;     // answer carries another relay's address
    double split = 0;            // answer sent in two parts, a gap apart
    double stray = 0;            // a few extra bytes after the answer
    double garbage = 0;          // line noise before the answer
    int delayMs = 20;            // time from request to answer (the relay's turnaround)
    int jitterMs = 0;            // added at random, 0..jitterMs
    int splitGapMs = 160;        // gap between the parts of a split answer
};

struct LineConfig {
    std::string device;          // a real serial device; empty: a pseudo-terminal
    std::string link;            // stable symlink to the pseudo-terminal
    int baud = 9600;
    int byteSize = 8;
    int parity = 0;              // 0 none, 1 odd, 2 even
    int stopBits = 1;
    int paceBaud = 0;            // answers leave at this wire rate (10 bits a byte); 0: at once
};

struct SimConfig {
    uint64_t seed = 1;
    LineConfig line;
    FaultRates faults;
    std::vector<RelayConfig> relays;
    bool verbose = false;        // frames on standard error
};

// Reads a TOML file into `config` (keys it doesn't name keep their values).
// Returns an empty text on success, else what is wrong, with the line.
std::string LoadSimConfigFile(const std::string& path, SimConfig& config);
std::string LoadSimConfigText(const std::string& text, SimConfig& config);

// Checks ranges and duplicates; empty text when the line can run.
std::string ValidateSimConfig(const SimConfig& config);

// "1,2,3" or "1:21:coded,2:33:float": address, optional type and layout.
std::string ParseRelayList(const std::string& text, std::vector<RelayConfig>& relays);

// A sensible relay for an address when nothing else is said: the types and
// layouts of the sample setting catalogue, by turns.
RelayConfig DefaultRelay(uint8_t address, size_t position);

}  // namespace vorlan_sim
