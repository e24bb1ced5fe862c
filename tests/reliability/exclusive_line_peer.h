// SPDX-License-Identifier: Apache-2.0
#pragma once
// Relays on the far side of a pseudo-terminal that also watch the line: a
// request that arrives while the previous one is still being answered means
// two exchanges shared the line. Each poll (0x83) of relay a is answered with
// one measurement, value 100 * a + its count of polls; everything else with
// "nothing new"; broadcasts get no answer.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "hex.h"
#include "pty_pair.h"

namespace vorlan_test {

class ExclusiveLinePeer {
public:
    // The window after a request in which the driver is still in its exchange:
    // the answer goes out at 20 ms and the driver reads it at 150 ms.
    static constexpr int kAnswerDelayMs = 20;
    static constexpr int kBusyWindowMs = 140;

    explicit ExclusiveLinePeer(PtyPair& pty) : pty_(pty), thread_([this] { Run(); }) {}
    ~ExclusiveLinePeer() { Stop(); }
    ExclusiveLinePeer(const ExclusiveLinePeer&) = delete;
    ExclusiveLinePeer& operator=(const ExclusiveLinePeer&) = delete;

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    int overlaps() const { return overlaps_.load(); }
    int requests() const { return requests_.load(); }
    // Polls answered for relay `address` so far.
    int polls(uint8_t address) {
        std::lock_guard<std::mutex> guard(mutex_);
        return polls_[address];
    }

private:
    void Run() {
        std::vector<uint8_t> pending;
        while (!stop_) {
            const std::vector<uint8_t> got = pty_.ReadPeer(10);
            pending.insert(pending.end(), got.begin(), got.end());
            while (pending.size() >= 3 && pending.size() >= pending[2] + 5u) {
                const size_t size = pending[2] + 5u;
                const std::vector<uint8_t> request(pending.begin(), pending.begin() + static_cast<long>(size));
                pending.erase(pending.begin(), pending.begin() + static_cast<long>(size));
                ++requests_;
                Answer(request, pending);
            }
        }
    }

    // Answers after a short delay and keeps watching until the window closes;
    // anything that arrives meanwhile is kept as the start of the next request.
    void Answer(const std::vector<uint8_t>& request, std::vector<uint8_t>& pending) {
        const auto start = std::chrono::steady_clock::now();
        const auto answerAt = start + std::chrono::milliseconds(kAnswerDelayMs);
        const auto windowEnd = start + std::chrono::milliseconds(kBusyWindowMs);
        bool answered = request[0] == 0xFF;
        bool overlapped = !pending.empty();
        for (auto now = start; now < windowEnd; now = std::chrono::steady_clock::now()) {
            if (!answered && now >= answerAt) {
                pty_.WritePeer(AnswerFor(request));
                answered = true;
            }
            const auto until = answered ? windowEnd : answerAt;
            const int waitMs = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) + 1;
            const std::vector<uint8_t> got = pty_.ReadPeer(waitMs);
            if (!got.empty()) overlapped = true;
            pending.insert(pending.end(), got.begin(), got.end());
        }
        if (!answered) pty_.WritePeer(AnswerFor(request));
        if (overlapped) ++overlaps_;
    }

    std::vector<uint8_t> AnswerFor(const std::vector<uint8_t>& request) {
        const uint8_t address = request[0];
        if (request[1] != 0x83) return MakeFrame(address, 0x04, {});
        int count = 0;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            count = ++polls_[address];
        }
        const int value = 100 * address + count;
        return MakeFrame(address, 0x06, {0x01, 0x00, static_cast<uint8_t>(value & 0xFF),
                                         static_cast<uint8_t>((value >> 8) & 0x7F)});
    }

    PtyPair& pty_;
    std::atomic<bool> stop_{false};
    std::atomic<int> overlaps_{0};
    std::atomic<int> requests_{0};
    std::mutex mutex_;
    int polls_[256] = {};
    std::thread thread_;
};

}  // namespace vorlan_test
