// SPDX-License-Identifier: Apache-2.0
#include "relay_health.h"

#include "output.h"

namespace vorlan_host {

RelayHealth HealthOf(bool known, const VorlanRelayStats& stats) {
    RelayHealth h;
    h.known = known;
    h.stats = stats;
    h.lastAnswer = static_cast<int64_t>((static_cast<uint64_t>(stats.lastAnswer.highDateTime) << 32) |
                                        stats.lastAnswer.lowDateTime);
    if (!known) {
        // A driver without the statistics: nothing to judge by, so nothing is hidden.
        h.state = RelayState::Ok;
    } else if (stats.answersTaken == 0 || h.lastAnswer <= 0) {
        h.state = RelayState::NoAnswer;
    } else if (stats.consecutiveFailures >= kStaleAfterFailures) {
        h.state = RelayState::Stale;
    } else {
        h.state = RelayState::Ok;
    }
    return h;
}

const char* StateName(RelayState state) {
    switch (state) {
        case RelayState::Ok: return "ok";
        case RelayState::Stale: return "stale";
        case RelayState::NoAnswer: break;
    }
    return "no-answer";
}

std::string RetryText(const VorlanRelayStats& s) {
    if (s.inBackoff == 0) return {};
    const uint32_t seconds = (s.retryIntervalMs + 500) / 1000;
    return ", retrying every " + std::to_string(seconds > 0 ? seconds : 1) + " s";
}

std::string StateText(const RelayHealth& health) {
    if (!health.known) return "state unknown (the driver gives no VorlanGetRelayStats)";
    switch (health.state) {
        case RelayState::Ok: return "answering";
        case RelayState::Stale: return "stale since " + IsoFileTime(health.lastAnswer) + RetryText(health.stats);
        case RelayState::NoAnswer: break;
    }
    return "no answer yet" + RetryText(health.stats);
}

nlohmann::json HealthJson(const RelayHealth& health) {
    const VorlanRelayStats& s = health.stats;
    return {{"state", StateName(health.state)},
            {"requests", s.requestsSent},
            {"answers", s.answersTaken},
            {"timeouts", s.timeouts},
            {"rejected", s.rejectedAnswers},
            {"consecutive_failures", s.consecutiveFailures},
            {"last_answer", JsonFileTime(health.lastAnswer)},
            {"backoff", s.inBackoff != 0},
            {"retry_interval_ms", s.retryIntervalMs},
            {"next_retry_in_ms", s.nextRetryInMs}};
}

}  // namespace vorlan_host
