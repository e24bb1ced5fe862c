// SPDX-License-Identifier: Apache-2.0
#pragma once
// A serial port that answers each request at once with the frame prepared for
// the request's address, without allocating: for steady-state measurements.

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/serial_port.h"

namespace vorlan_test {

class MemoryPort final : public vorlan::SerialPort {
public:
    // The answer to every request sent to `address` (prepared before use).
    void AnswerFor(uint8_t address, std::vector<uint8_t> frame) {
        answers_[address] = std::move(frame);
    }

    bool IsOpen() const override { return true; }
    bool Write(const uint8_t* data, size_t size) override {
        writes += 1;
        pending_ = size > 0 ? &answers_[data[0]] : nullptr;
        offset_ = 0;
        return true;
    }
    bool BytesWaiting(size_t& count) override {
        count = pending_ != nullptr ? pending_->size() - offset_ : 0;
        return true;
    }
    bool Read(uint8_t* buffer, size_t capacity, size_t& got) override {
        got = 0;
        if (pending_ == nullptr) return true;
        got = pending_->size() - offset_;
        if (got > capacity) got = capacity;
        std::memcpy(buffer, pending_->data() + offset_, got);
        offset_ += got;
        return true;
    }
    vorlan::WaitResult WaitReadable(uint32_t) override {
        size_t count = 0;
        BytesWaiting(count);
        return count > 0 ? vorlan::WaitResult::Readable : vorlan::WaitResult::TimedOut;
    }
    void DiscardInput() override { pending_ = nullptr; }
    void Close() override {}

    size_t writes = 0;

private:
    std::array<std::vector<uint8_t>, 256> answers_;
    const std::vector<uint8_t>* pending_ = nullptr;
    size_t offset_ = 0;
};

}  // namespace vorlan_test
