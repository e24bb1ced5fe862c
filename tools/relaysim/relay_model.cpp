// SPDX-License-Identifier: Apache-2.0
#include "relay_model.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace vorlan_sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kPollsPerPeriod = 24.0;   // a measurement swings once in this many polls
constexpr size_t kMaxReports = 256;        // a relay's event memory
constexpr uint8_t kClose = 0xCC;
constexpr uint8_t kOpen = 0xAA;

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// 100 ns steps from 1601 to 1970.
constexpr uint64_t kFileTimeOf1970 = 116444736000000000ull;

}  // namespace

RelayModel::RelayModel(const RelayConfig& config, uint64_t seed)
    : config_(config),
      random_(SimRandom::Derive(seed, config.address)),
      settings_(config),
      recordings_(MakeRecordings(config, seed)) {
    for (int k = 0; k < config.measurements; ++k) {
        phase_.push_back(random_.Uniform() * 2 * kPi);
        // Some channels swing around zero (powers, angles), the others stay positive.
        amplitude_.push_back(k % 3 == 2 ? 2000.0 + 500.0 * k : 800.0 + 300.0 * k);
    }
    status_.assign(static_cast<size_t>(config.statusGroups), 0);
    for (uint8_t& g : status_) g = static_cast<uint8_t>(random_.Range(0, 255));
    for (int k = 0; k < config.counters; ++k) counters_.push_back(static_cast<uint16_t>(random_.Range(0, 5000)));
}

void RelayModel::Advance() {
    ++polls_;
    for (uint16_t& c : counters_) c = static_cast<uint16_t>(c + random_.Range(0, 3));
    if (random_.Chance(config_.changeRate)) {
        const int point = static_cast<int>(random_.Range(0, config_.statusGroups * 8 - 1));
        SetInput(point, !Input(point));
    }
}

int32_t RelayModel::Measurement(int k) const {
    const size_t i = static_cast<size_t>(k);
    const double angle = 2 * kPi * static_cast<double>(polls_) / kPollsPerPeriod + phase_.at(i);
    const double base = k % 3 == 2 ? 0.0 : 1.5 * amplitude_[i];
    // A little noise that depends only on the poll, so a seed replays exactly.
    SimRandom noise = SimRandom::Derive(polls_, static_cast<uint64_t>(k) + (uint64_t{config_.address} << 8));
    const double v = base + amplitude_[i] * std::sin(angle) + (noise.Uniform() - 0.5) * 0.02 * amplitude_[i];
    return static_cast<int32_t>(std::lround(std::max(-32767.0, std::min(32767.0, v))));
}

bool RelayModel::Input(int point) const {
    if (point < 0 || point >= config_.statusGroups * 8) return false;
    return (status_[static_cast<size_t>(point / 8)] >> (point % 8)) & 1u;
}

void RelayModel::SetInput(int point, bool on) {
    if (point < 0 || point >= config_.statusGroups * 8 || Input(point) == on) return;
    const size_t g = static_cast<size_t>(point / 8);
    const uint8_t old = status_[g];
    status_[g] = static_cast<uint8_t>(on ? old | (1u << (point % 8)) : old & ~(1u << (point % 8)));
    if (reports_.size() >= kMaxReports) reports_.pop_front();
    reports_.push_back(StatusReport{Now(), {{static_cast<uint8_t>(g), old, status_[g]}}});
}

StatusReport RelayModel::TakeReport() {
    StatusReport r = reports_.front();
    reports_.pop_front();
    return r;
}

vorlan::SystemTime RelayModel::Now() const {
    const int64_t ms = NowMs() + clockOffsetMs_;
    return config_.clockZone.FieldsAt(kFileTimeOf1970 + static_cast<uint64_t>(ms > 0 ? ms : 0) * 10000);
}

void RelayModel::SetClock(const vorlan::SystemTime& t) {
    uint64_t fileTime = 0;
    if (!config_.clockZone.FileTimeOf(t, fileTime)) return;  // a time the calendar can't hold: ignored
    clockOffsetMs_ = static_cast<int64_t>((fileTime - kFileTimeOf1970) / 10000) - NowMs();
}

bool RelayModel::Select(uint8_t point, uint8_t code) {
    selectsReceived_.fetch_add(1, std::memory_order_relaxed);
    if (point >= controlPoints() || (code != kClose && code != kOpen)) {
        selectedPoint_ = -1;
        return false;
    }
    selectedPoint_ = point;
    selectedCode_ = code;
    return true;
}

bool RelayModel::Execute(uint8_t point, uint8_t code) {
    const bool ok = selectedPoint_ == point && selectedCode_ == code;
    selectedPoint_ = -1;
    if (!ok) return false;
    SetInput(point, code == kClose);
    ++controlsExecuted_;
    return true;
}

const Recording* RelayModel::FindRecording(uint32_t id) const {
    for (const Recording& r : recordings_) {
        if (r.id == id) return &r;
    }
    return nullptr;
}

RelayModel::PollKind RelayModel::NextPollKind() {
    static const PollKind order[] = {PollKind::Measurements, PollKind::Inputs, PollKind::Measurements,
                                     PollKind::Counters, PollKind::Nothing};
    PollKind k = order[pollTurn_ % 5];
    pollTurn_++;
    if (k == PollKind::Counters && config_.counters == 0) k = PollKind::Nothing;
    return k;
}

}  // namespace vorlan_sim
