#pragma once
// How fresh a relay's values are: the packet cycle notes every exchange, the
// host's registers ask whether what the relay last reported still stands.

#include <cstdint>

#include "model/device_record.h"
#include "vorlan/driver.h"

namespace vorlan {

// The stamp of a value reported at `now`: never 0, which means "never".
inline uint64_t ReportedAt(uint64_t now) { return now != 0 ? now : 1; }

// The relay's answer was taken at `now` (UTC FILETIME).
inline void NoteAnswerTaken(PollingState& state, DeviceRecord& relay, uint64_t now) {
    relay.conversation.failedExchanges = 0;
    relay.conversation.lastAnswerTime = ReportedAt(now);
    state.lineLost = false;
}

// An exchange with the relay brought no answer that was taken.
inline void NoteExchangeFailed(DeviceRecord& relay) {
    if (relay.conversation.failedExchanges < VORLAN_STALE_AFTER_FAILURES) {
        relay.conversation.failedExchanges += 1;
    }
}

// What the relay last reported no longer stands: it has failed too many
// exchanges in a row, or the port is gone.
inline bool RelayStale(const PollingState& state, const DeviceRecord& relay) {
    return state.lineLost || relay.conversation.failedExchanges >= VORLAN_STALE_AFTER_FAILURES;
}

}  // namespace vorlan
