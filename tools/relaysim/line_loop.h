// SPDX-License-Identifier: Apache-2.0
#pragma once
// The relays' side of the line: collects request bytes into frames, hands
// each request to the relays and schedules the shaped answer for writing.
// Knows nothing of descriptors; the runner below moves the bytes.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "answer_builder.h"
#include "fault_injector.h"

namespace vorlan_sim {

class LineLoop {
public:
    using Log = std::function<void(const std::string&)>;
    LineLoop(RelayLine& relays, FaultInjector& faults, Log log = nullptr);

    // Bytes from the master at monotonic time `nowMs`.
    void Receive(const uint8_t* data, size_t size, int64_t nowMs);
    // Chunks whose time has come, in order, removed from the schedule.
    std::vector<std::vector<uint8_t>> TakeDue(int64_t nowMs);
    // Milliseconds until something is due (a chunk, or dropping a stale
    // partial request); -1 when nothing waits.
    int NextEventMs(int64_t nowMs) const;
    // Drops a partial request that stopped arriving (line noise, a restart).
    void Expire(int64_t nowMs);

    uint64_t discardedBytes() const { return discarded_; }

    // With a rate, a request is heard after its wire time and answers
    // leave byte by byte at that rate (10 bits a byte); 0 turns pacing off.
    void SetPaceBaud(int baud) { paceBaud_ = baud; }
    int paceBaud() const { return paceBaud_; }

private:
    void Frame(int64_t nowMs);

    RelayLine& relays_;
    FaultInjector& faults_;
    Log log_;
    std::vector<uint8_t> pending_;
    int64_t lastByteMs_ = 0;
    struct Scheduled {
        int64_t dueMs;
        std::vector<uint8_t> bytes;
    };
    std::vector<Scheduled> schedule_;  // kept in due order
    uint64_t discarded_ = 0;
    int paceBaud_ = 0;
};

// Moves bytes between `fd` (non-blocking) and the loop until `stop` is set
// or the descriptor fails. Returns an empty text, or why it ended.
std::string RunLine(int fd, LineLoop& loop, const std::atomic<bool>& stop);

int64_t MonotonicMs();
int64_t MonotonicUs();
std::string HexText(const uint8_t* data, size_t size);

}  // namespace vorlan_sim
