// SPDX-License-Identifier: Apache-2.0
#pragma once
// A serial port whose answers arrive at scripted ticks of a FakeClock.
// Waiting on it moves the clock to the next arrival, so the fast exchange's
// deadlines are tested exactly.

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "fake_clock.h"
#include "platform/serial_port.h"

namespace vorlan_test {

class ScriptedPort final : public vorlan::SerialPort {
public:
    explicit ScriptedPort(FakeClock& clock) : clock_(clock) {}

    // Bytes that become readable `afterMs` milliseconds after the next write.
    void Answer(uint32_t afterMs, std::vector<uint8_t> bytes) {
        script_.push_back({afterMs, std::move(bytes)});
    }

    bool IsOpen() const override { return open_; }
    bool Write(const uint8_t* data, size_t size) override {
        if (!open_ || failWrite) return false;
        written.emplace_back(data, data + size);
        writeTick_ = clock_.TickMs();
        armed_ = script_;
        script_.clear();
        if (respond) {
            std::vector<uint8_t> answer = respond(written.back());
            if (!answer.empty()) armed_.push_back({respondAfterMs, std::move(answer)});
        }
        // A 2-wire adapter hears its own request first.
        if (echo) armed_.push_front({0, echo(written.back())});
        return true;
    }
    bool BytesWaiting(size_t& count) override {
        if (failRead) return false;
        Release();
        count = input_.size();
        return true;
    }
    bool Read(uint8_t* buffer, size_t capacity, size_t& got) override {
        if (failRead) return false;
        Release();
        got = 0;
        while (got < capacity && !input_.empty()) {
            buffer[got++] = input_.front();
            input_.pop_front();
        }
        reads += 1;
        return true;
    }
    vorlan::WaitResult WaitReadable(uint32_t timeoutMs) override {
        if (failRead) return vorlan::WaitResult::Failed;
        waits += 1;
        Release();
        if (!input_.empty()) return vorlan::WaitResult::Readable;
        const uint32_t elapsed = clock_.TickMs() - writeTick_;
        if (!armed_.empty() && armed_.front().afterMs - elapsed <= timeoutMs) {
            clock_.Advance(armed_.front().afterMs - elapsed);
            Release();
            return vorlan::WaitResult::Readable;
        }
        clock_.Advance(timeoutMs);
        return vorlan::WaitResult::TimedOut;
    }
    void DiscardInput() override {
        Release();
        input_.clear();
        discards += 1;
    }
    void Close() override { open_ = false; }

    // Bytes that arrive now, unasked: a late answer or noise on the line.
    void Arrive(std::vector<uint8_t> bytes) {
        for (uint8_t b : bytes) input_.push_back(b);
    }

    std::vector<std::vector<uint8_t>> written;
    bool failWrite = false;
    bool failRead = false;
    int discards = 0;
    int reads = 0;
    int waits = 0;
    // When set, what the line hands back of each request at once.
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> echo;
    // When set, the answer to each request, arriving respondAfterMs after it
    // (empty: the relay stays silent); used when the script can't know the order.
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> respond;
    uint32_t respondAfterMs = 20;

private:
    struct Arrival {
        uint32_t afterMs;
        std::vector<uint8_t> bytes;
    };
    void Release() {
        const uint32_t elapsed = clock_.TickMs() - writeTick_;
        while (!armed_.empty() && armed_.front().afterMs <= elapsed) {
            for (uint8_t b : armed_.front().bytes) input_.push_back(b);
            armed_.pop_front();
        }
    }

    FakeClock& clock_;
    bool open_ = true;
    uint32_t writeTick_ = 0;
    std::deque<Arrival> script_;
    std::deque<Arrival> armed_;
    std::deque<uint8_t> input_;
};

}  // namespace vorlan_test
