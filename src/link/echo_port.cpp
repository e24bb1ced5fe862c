// SPDX-License-Identifier: Apache-2.0
#include "link/echo_port.h"

#include <cstring>

namespace vorlan {

EchoSuppressingPort::EchoSuppressingPort(std::unique_ptr<SerialPort> inner, Clock& clock,
                                         uint32_t charTimeUs, uint32_t slackMs)
    : inner_(std::move(inner)), clock_(clock), charTimeUs_(charTimeUs), slackMs_(slackMs) {}

bool EchoSuppressingPort::Write(const uint8_t* data, size_t size) {
    echoFailed_ = false;
    if (!inner_->Write(data, size)) return false;
    // The request is on the line whatever its echo says.
    echoFailed_ = size > 0 && !ReadBackEcho(data, size);
    return true;
}

// Reads exactly the request's length, no more, so the answer stays queued.
bool EchoSuppressingPort::ReadBackEcho(const uint8_t* data, size_t size) {
    const uint64_t wireUs = static_cast<uint64_t>(size) * charTimeUs_;
    const uint32_t deadline =
        clock_.TickMs() + static_cast<uint32_t>((wireUs + 999) / 1000) + slackMs_;
    uint8_t buffer[64];
    size_t matched = 0;
    while (matched < size) {
        const int32_t left = static_cast<int32_t>(deadline - clock_.TickMs());
        if (left <= 0) return false;
        const WaitResult wait = inner_->WaitReadable(static_cast<uint32_t>(left));
        if (wait == WaitResult::Failed) return false;
        if (wait == WaitResult::TimedOut) continue;
        const size_t want = size - matched < sizeof buffer ? size - matched : sizeof buffer;
        size_t got = 0;
        if (!inner_->Read(buffer, want, got)) return false;
        if (std::memcmp(buffer, data + matched, got) != 0) return false;
        matched += got;
    }
    return true;
}

bool EchoSuppressingPort::TakeEchoFailure() {
    const bool failed = echoFailed_;
    echoFailed_ = false;
    return failed;
}

bool EchoSuppressingPort::BytesWaiting(size_t& count) {
    count = 0;
    if (TakeEchoFailure()) return false;
    return inner_->BytesWaiting(count);
}

bool EchoSuppressingPort::Read(uint8_t* buffer, size_t capacity, size_t& got) {
    got = 0;
    if (TakeEchoFailure()) return false;
    return inner_->Read(buffer, capacity, got);
}

WaitResult EchoSuppressingPort::WaitReadable(uint32_t timeoutMs) {
    if (TakeEchoFailure()) return WaitResult::Failed;
    return inner_->WaitReadable(timeoutMs);
}

}  // namespace vorlan
