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

// Whether a backed-off relay's retry is due at `tick`.
inline bool SilentRetryDue(const DeviceRecord& relay, uint32_t tick) {
    return !relay.conversation.backedOff || TickReached(tick, relay.conversation.retryDueTick);
}

}  // namespace vorlan
