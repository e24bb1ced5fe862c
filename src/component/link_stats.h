// SPDX-License-Identifier: Apache-2.0
#pragma once
// Per-relay counts of what the line did. The packet cycle, under the driver's
// lock, is the only writer; hosts read them from any thread without waiting,
// so every field is a relaxed atomic (a plain load and store on the targets
// we build for).

#include <array>
#include <atomic>
#include <cstdint>

#include "link/frame_exchange.h"
#include "model/device_record.h"
#include "vorlan/driver.h"

namespace vorlan {

struct RelayLinkStats {
    std::atomic<int32_t> address{0};
    std::atomic<uint32_t> requestsSent{0};
    std::atomic<uint32_t> answersTaken{0};
    std::atomic<uint32_t> timeouts{0};
    std::atomic<uint32_t> rejectedAnswers{0};
    std::atomic<uint32_t> consecutiveFailures{0};
    std::atomic<uint64_t> lastAnswerFileTime{0};
    std::atomic<uint32_t> inBackoff{0};
    std::atomic<uint32_t> retryIntervalMs{0};
    std::atomic<uint32_t> retryDueTick{0};
};

class LinkStatsTable {
public:
    // AddDevice: the relay at `index` now exists and has `address`.
    void Register(int32_t index, uint8_t address);

    // Counts one exchange with the relay at `index`: how the exchange ended
    // and whether its answer was taken as this relay's.
    void Note(int32_t index, ExchangeOutcome outcome, bool answerTaken, uint64_t nowFileTime);

    // The relay's silent back-off as the packet cycle left it: its interval
    // and the tick its next retry is due at.
    void NoteBackoff(int32_t index, bool inBackoff, uint32_t intervalMs, uint32_t dueTick);

    // Returns false when no relay is registered at `index`. `nowTick` (the
    // driver's clock) gives the time left until a backed-off relay's retry.
    bool Read(int32_t index, VorlanRelayStats& out, uint32_t nowTick = 0) const;

private:
    std::array<RelayLinkStats, kMaxDevices> relays_{};
    std::atomic<int32_t> registered_{0};
};

}  // namespace vorlan
