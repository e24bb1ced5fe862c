// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the gateway holds for one relay: which points its configuration
// names, their latest values from the driver, and the driver's statistics.
// The line's thread writes it; the Modbus and MQTT sides read it.

#include <bitset>
#include <cstdint>
#include <mutex>
#include <string>

#include "relay_stats.h"

namespace vorlan_gateway {

constexpr int kYcPoints = 64;
constexpr int kYmPoints = 20;
constexpr int kYxPoints = 512;
constexpr int kYkPoints = 64;

struct RelayHealth {
    bool known = false;                // the driver gave statistics
    uint32_t requestsSent = 0;
    uint32_t answered = 0;
    uint32_t failed = 0;               // time-outs and refused answers
    uint32_t timeouts = 0;
    uint32_t rejected = 0;
    uint32_t consecutiveFailures = 0;
    int64_t lastAnswer = 0;            // 100 ns since 1601, UTC; 0 when never
    bool inBackoff = false;            // the driver retries the silent relay on a schedule
    uint32_t retryIntervalMs = 0;      // that schedule's interval; 0 when in the rotation
};

// How the relay's link looks from its exchanges.
enum class RelayState {
    Ok,          // answering
    NoAnswer,    // never answered yet, or not since the gateway started
    Stale,       // answered before, failing now: its values are the last known
    Backoff,     // silent: the driver asks it only on its retry schedule
};
const char* RelayStateName(RelayState s);

struct RelayPoints {
    // Set once from the configuration.
    int address = 0;
    int unit = 0;
    size_t line = 0;
    size_t index = 0;                  // the relay's place on its line
    std::string name;
    bool allowControl = false;
    std::bitset<kYcPoints> yc;
    std::bitset<kYmPoints> ym;
    std::bitset<kYxPoints> yx;
    std::bitset<kYkPoints> yk;         // controllable points: YK items with allow_control

    // Written by the line's thread under `lock`.
    mutable std::mutex lock;
    bool answered = false;             // the relay has answered at least once
    float ycValue[kYcPoints] = {};
    uint32_t ymValue[kYmPoints] = {};
    std::bitset<kYxPoints> yxValue;
    std::bitset<kYkPoints> ykClosed;   // the last confirmed control of each point was a close
    // The driver's quality of each value (VORLAN_QUALITY_*): waiting until the
    // relay reported it, last known once exchanges with the relay fail.
    int16_t ycQuality[kYcPoints];
    int16_t ymQuality[kYmPoints];
    int16_t yxQuality[kYxPoints];
    RelayHealth health;
    RelayState state = RelayState::NoAnswer;

    RelayPoints();
};

// Seconds since the relay's last answer at `now100ns`; UINT32_MAX when never.
uint32_t SecondsSinceAnswer(const RelayHealth& h, int64_t now100ns);
// The current UTC time as 100 ns since 1601.
int64_t NowFileTime();
// "2026-12-08T00:49:35.123Z"
std::string IsoUtc(int64_t fileTime);
// The same for the current time, for log lines.
std::string IsoUtcNow();

}  // namespace vorlan_gateway
