#pragma once
// Back-off for a silent relay: after VORLAN_STALE_AFTER_FAILURES failed
// exchanges in a row the relay leaves the ordinary rotation and is retried
// 1 s after that failure, then at doubling intervals up to the line's
// maximum. Its first answer puts it straight back. The schedule runs on the
// driver's wrapping millisecond tick.

#include <cstdint>

#include "model/device_record.h"

namespace vorlan {

constexpr uint32_t kFirstSilentRetryMs = 1000;

// Whether `tick` has reached `due`, across the tick's wrap (intervals stay
// far below 2^31 ms).
inline bool TickReached(uint32_t tick, uint32_t due) {
    return static_cast<int32_t>(tick - due) >= 0;
}

// Brings the relay's schedule up to date after an exchange with it ended at
// `tick`: an answer taken (failedExchanges back at 0) ends the back-off; a
// failure at or past the limit starts it or doubles the interval. Does
// nothing on a line where the back-off is off.
inline void UpdateSilentBackoff(const PollingState& state, DeviceRecord& relay, uint32_t tick) {
    Conversation& c = relay.conversation;
    if (!state.silentBackoff || c.failedExchanges < VORLAN_STALE_AFTER_FAILURES) {
        c.backedOff = false;
        c.retryIntervalMs = 0;
        return;
    }
    const uint32_t most = state.silentRetryMaxMs > kFirstSilentRetryMs ? state.silentRetryMaxMs
                                                                      : kFirstSilentRetryMs;
    if (!c.backedOff) {
        c.backedOff = true;
        c.retryIntervalMs = kFirstSilentRetryMs;
    } else {
        const uint32_t doubled = c.retryIntervalMs * 2;
        c.retryIntervalMs = doubled < most ? doubled : most;
    }
    c.retryDueTick = tick + c.retryIntervalMs;
}

// The retry of a backed-off relay only asks whether it is back: it waits for
// the first byte twice as long as the relay's slowest answer took to begin
// (its line's slowest when it never answered), plus a margin, not the whole
// answer time-out that would otherwise cost the live relays most of what the
// back-off saves. Every eighth retry waits in full, so a relay that comes
// back slower than it ever was, or slower than its neighbours, is still
// found. Host work for the relay (any request but the general poll), a relay
// not backed off and a line that never answered get the line's wait (0).
constexpr uint32_t kSilentRetryWaitMarginMs = 50;
constexpr uint32_t kBriefRetriesInARow = 7;

inline uint32_t TakeSilentRetryWaitMs(const PollingState& state, Conversation& c, uint8_t command) {
    if (!c.backedOff || command != static_cast<uint8_t>(Request::GeneralPoll)) return 0;
    const int32_t basis = c.slowestAnswerDelayMs >= 0 ? c.slowestAnswerDelayMs : state.slowestAnswerDelayMs;
    if (basis < 0 || c.briefRetries >= kBriefRetriesInARow) {
        c.briefRetries = 0;
        return 0;
    }
    c.briefRetries += 1;
    return 2 * static_cast<uint32_t>(basis) + kSilentRetryWaitMarginMs;
}

// Keeps the longest time an answer took to begin, for the relay and its line.
inline void NoteAnswerDelay(PollingState& state, Conversation& c, uint32_t delayMs) {
    const int32_t delay = delayMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(delayMs);
    if (delay > c.slowestAnswerDelayMs) c.slowestAnswerDelayMs = delay;
    if (delay > state.slowestAnswerDelayMs) state.slowestAnswerDelayMs = delay;
}

// Whether a backed-off relay's retry is due at `tick`.
inline bool SilentRetryDue(const DeviceRecord& relay, uint32_t tick) {
    return !relay.conversation.backedOff || TickReached(tick, relay.conversation.retryDueTick);
}

}  // namespace vorlan
