// SPDX-License-Identifier: Apache-2.0
#pragma once
// A serial port on a fake clock whose far end is the simulated relays behind
// a soak ledger: each request is answered with the shaped chunks, each chunk
// readable once its delay after the request has passed. Bytes nobody reads
// stay in the input queue, as on a real line.

#include <cstdint>
#include <deque>
#include <vector>

#include "fake_clock.h"
#include "platform/serial_port.h"
#include "soak_ledger.h"

namespace vorlan_test {

class SimulatedLinePort final : public vorlan::SerialPort {
public:
    SimulatedLinePort(FakeClock& clock, SoakLedger& ledger) : clock_(clock), ledger_(ledger) {}

    bool IsOpen() const override { return true; }
    bool Write(const uint8_t* data, size_t size) override {
        Release();
        const uint32_t now = clock_.TickMs();
        for (const vorlan_sim::LineChunk& chunk : ledger_.Answer(std::vector<uint8_t>(data, data + size))) {
            pending_.push_back({now + static_cast<uint32_t>(chunk.delayMs), chunk.bytes});
        }
        return true;
    }
    bool BytesWaiting(size_t& count) override {
        Release();
        count = input_.size();
        return true;
    }
    bool Read(uint8_t* buffer, size_t capacity, size_t& got) override {
        Release();
        got = 0;
        while (got < capacity && !input_.empty()) {
            buffer[got++] = input_.front();
            input_.pop_front();
        }
        return true;
    }
    // Moves the fake clock to the next chunk, or by the whole time-out.
    vorlan::WaitResult WaitReadable(uint32_t timeoutMs) override {
        Release();
        if (!input_.empty()) return vorlan::WaitResult::Readable;
        const uint32_t now = clock_.TickMs();
        if (!pending_.empty() && pending_.front().dueTick - now <= timeoutMs) {
            clock_.Advance(pending_.front().dueTick - now);
            Release();
            return vorlan::WaitResult::Readable;
        }
        clock_.Advance(timeoutMs);
        return vorlan::WaitResult::TimedOut;
    }
    void DiscardInput() override {
        Release();
        input_.clear();
    }
    void Close() override {}

private:
    struct Chunk {
        uint32_t dueTick;
        std::vector<uint8_t> bytes;
    };
    // Chunks are scheduled in time order within one answer; answers follow
    // one another, so the queue stays in due order.
    void Release() {
        const uint32_t now = clock_.TickMs();
        while (!pending_.empty() && static_cast<int32_t>(now - pending_.front().dueTick) >= 0) {
            input_.insert(input_.end(), pending_.front().bytes.begin(), pending_.front().bytes.end());
            pending_.pop_front();
        }
    }

    FakeClock& clock_;
    SoakLedger& ledger_;
    std::deque<Chunk> pending_;
    std::deque<uint8_t> input_;
};

}  // namespace vorlan_test
