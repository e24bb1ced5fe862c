// SPDX-License-Identifier: Apache-2.0
#pragma once
// One simulated relay: measurements that move, status inputs that change now
// and then (kept as time-stamped reports), counters that count, its own clock,
// a remote-control selection, its settings and its fault recordings.

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "fault_recordings.h"
#include "platform/calendar.h"
#include "relay_settings.h"
#include "sim_config.h"
#include "sim_random.h"

namespace vorlan_sim {

// One 0xB1 report: the relay's time and the groups that changed then.
struct StatusReport {
    vorlan::SystemTime time;
    std::vector<std::array<uint8_t, 3>> groups;  // group, old byte, new byte
};

class RelayModel {
public:
    RelayModel(const RelayConfig& config, uint64_t seed);

    const RelayConfig& config() const { return config_; }
    uint8_t address() const { return config_.address; }

    // One poll has come: measurements move, counters count, an input may change.
    void Advance();
    uint64_t polls() const { return polls_; }

    // Requests addressed to this relay and the answers it gave.
    struct Traffic {
        uint64_t requests = 0;
        uint64_t answers = 0;
    };
    Traffic& traffic() { return traffic_; }
    const Traffic& traffic() const { return traffic_; }
    // Has it fallen silent (silent_after), or is it switched off?
    bool Silent() const {
        return switchedOff_.load(std::memory_order_relaxed) ||
               (config_.silentAfter > 0 && traffic_.answers >= static_cast<uint64_t>(config_.silentAfter));
    }
    // Switches the relay off (silent) or on again while the line runs; any
    // thread may call it.
    void SwitchOff(bool off) { switchedOff_.store(off, std::memory_order_relaxed); }

    int32_t Measurement(int k) const;                 // -32767..32767
    uint8_t StatusGroup(int g) const { return status_.at(static_cast<size_t>(g)); }
    bool Input(int point) const;
    uint16_t Counter(int k) const { return counters_.at(static_cast<size_t>(k)); }

    // Sets an input and, when it changes, queues a report with the relay's time.
    void SetInput(int point, bool on);
    bool HasReport() const { return !reports_.empty(); }
    StatusReport TakeReport();
    size_t pendingReports() const { return reports_.size(); }

    // The relay's clock: the time in its zone (RelayConfig::clockZone) plus
    // an offset that a time synchronisation (0x81) sets.
    vorlan::SystemTime Now() const;
    void SetClock(const vorlan::SystemTime& t);
    int64_t clockOffsetMs() const { return clockOffsetMs_; }

    // Remote control: a select (0x98) must precede the execute (0x9A) of the
    // same point and code. Closing (0xCC) sets the point's input, opening
    // (0xAA) clears it.
    bool Select(uint8_t point, uint8_t code);
    bool Execute(uint8_t point, uint8_t code);
    int controlPoints() const { return config_.statusGroups * 8 < 64 ? config_.statusGroups * 8 : 64; }
    uint64_t controlsExecuted() const { return controlsExecuted_; }
    // Control selects received, granted or not; read from any thread.
    uint64_t selectsReceived() const { return selectsReceived_.load(std::memory_order_relaxed); }

    RelaySettings& settings() { return settings_; }
    const RelaySettings& settings() const { return settings_; }
    const std::vector<Recording>& recordings() const { return recordings_; }
    const Recording* FindRecording(uint32_t id) const;

    // What the next general poll reports in turn: measurements, inputs,
    // counters, then nothing new.
    enum class PollKind { Measurements, Inputs, Counters, Nothing };
    PollKind NextPollKind();

    SimRandom& random() { return random_; }

private:
    RelayConfig config_;
    SimRandom random_;
    uint64_t polls_ = 0;
    Traffic traffic_;
    size_t pollTurn_ = 0;
    std::vector<double> phase_;
    std::vector<double> amplitude_;
    std::vector<uint8_t> status_;
    std::vector<uint16_t> counters_;
    std::deque<StatusReport> reports_;
    int64_t clockOffsetMs_ = 0;
    int selectedPoint_ = -1;
    uint8_t selectedCode_ = 0;
    uint64_t controlsExecuted_ = 0;
    std::atomic<uint64_t> selectsReceived_{0};
    RelaySettings settings_;
    std::vector<Recording> recordings_;
    std::atomic<bool> switchedOff_{false};
};

}  // namespace vorlan_sim
