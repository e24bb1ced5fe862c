// SPDX-License-Identifier: Apache-2.0
#include "line_loop.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstring>

#include "model/frame.h"

namespace vorlan_sim {

namespace {

constexpr int64_t kInterByteGapMs = 100;  // a request that pauses this long is dropped
constexpr int kIdleWaitMs = 200;          // wake-up to look at the stop flag

}  // namespace

int64_t MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t MonotonicUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string HexText(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        if (i) out += ' ';
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
    return out;
}

LineLoop::LineLoop(RelayLine& relays, FaultInjector& faults, Log log)
    : relays_(relays), faults_(faults), log_(std::move(log)) {}

void LineLoop::Receive(const uint8_t* data, size_t size, int64_t nowMs) {
    if (size == 0) return;
    Expire(nowMs);
    pending_.insert(pending_.end(), data, data + size);
    lastByteMs_ = nowMs;
    Frame(nowMs);
}

void LineLoop::Frame(int64_t nowMs) {
    while (pending_.size() >= vorlan::kFrameHeader) {
        const size_t length = pending_[2] + vorlan::kFrameOverhead;
        if (pending_.size() < length) return;
        const vorlan::ByteView request(pending_.data(), length);
        if (!vorlan::CheckFrame(request)) {
            // Not a frame here: slide one byte and look again.
            pending_.erase(pending_.begin());
            ++discarded_;
            continue;
        }
        if (log_) log_("<- " + HexText(request.data(), request.size()));
        const std::vector<uint8_t> answer = relays_.HandleRequest(request);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(length));
        std::vector<LineChunk> chunks = faults_.Shape(answer);
        // On a paced line the relay hears the request's last byte only after its wire time.
        const int64_t heardMs =
            paceBaud_ > 0 ? nowMs + (static_cast<int64_t>(length) * 10'000 + paceBaud_ - 1) / paceBaud_ : nowMs;
        if (!answer.empty() && chunks.empty() && log_) log_("   (answer dropped)");
        for (LineChunk& c : chunks) {
            if (log_) {
                log_("-> " + HexText(c.bytes.data(), c.bytes.size()) + "  (+" + std::to_string(c.delayMs) + " ms)");
            }
            Scheduled s{heardMs + c.delayMs, std::move(c.bytes)};
            auto at = schedule_.end();
            while (at != schedule_.begin() && (at - 1)->dueMs > s.dueMs) --at;
            schedule_.insert(at, std::move(s));
        }
    }
}

std::vector<std::vector<uint8_t>> LineLoop::TakeDue(int64_t nowMs) {
    std::vector<std::vector<uint8_t>> due;
    size_t n = 0;
    while (n < schedule_.size() && schedule_[n].dueMs <= nowMs) {
        due.push_back(std::move(schedule_[n].bytes));
        ++n;
    }
    schedule_.erase(schedule_.begin(), schedule_.begin() + static_cast<long>(n));
    return due;
}

int LineLoop::NextEventMs(int64_t nowMs) const {
    int64_t next = -1;
    if (!schedule_.empty()) next = std::max<int64_t>(0, schedule_.front().dueMs - nowMs);
    if (!pending_.empty()) {
        const int64_t stale = std::max<int64_t>(0, lastByteMs_ + kInterByteGapMs - nowMs);
        next = next < 0 ? stale : std::min(next, stale);
    }
    return static_cast<int>(next);
}

void LineLoop::Expire(int64_t nowMs) {
    if (!pending_.empty() && nowMs - lastByteMs_ >= kInterByteGapMs) {
        discarded_ += pending_.size();
        pending_.clear();
    }
}

namespace {

// The wire of a paced line: each byte is handed to the descriptor when its
// last bit would have arrived, the next starting when the line is free.
class WirePacer {
public:
    explicit WirePacer(int baud) : charUs_(baud > 0 ? (10'000'000 + baud - 1) / baud : 0) {}
    bool paced() const { return charUs_ > 0; }
    // Bytes of `waiting` that have left by `nowUs`; `fresh` when they just became due.
    size_t Due(size_t waiting, bool fresh, int64_t nowUs) {
        if (!paced()) return waiting;
        if (fresh) headDoneUs_ = std::max(nowUs, lineFreeUs_) + charUs_;
        if (nowUs < headDoneUs_) return 0;
        const size_t due = static_cast<size_t>((nowUs - headDoneUs_) / charUs_) + 1;
        return std::min(due, waiting);
    }
    void Sent(size_t count) {
        if (!paced() || count == 0) return;
        lineFreeUs_ = headDoneUs_ + static_cast<int64_t>(count - 1) * charUs_;
        headDoneUs_ += static_cast<int64_t>(count) * charUs_;
    }
    // Microseconds until the next byte is due.
    int64_t UntilNextUs(int64_t nowUs) const { return std::max<int64_t>(0, headDoneUs_ - nowUs); }

private:
    int64_t charUs_;
    int64_t headDoneUs_ = 0;
    int64_t lineFreeUs_ = 0;
};

}  // namespace

std::string RunLine(int fd, LineLoop& loop, const std::atomic<bool>& stop) {
    std::vector<uint8_t> out;  // bytes the descriptor has not taken yet
    uint8_t buffer[1024];
    WirePacer pacer(loop.paceBaud());
    while (!stop.load()) {
        const int64_t now = MonotonicMs();
        const bool wasEmpty = out.empty();
        for (auto& chunk : loop.TakeDue(now)) out.insert(out.end(), chunk.begin(), chunk.end());
        if (!out.empty()) {
            const size_t due = pacer.Due(out.size(), wasEmpty, MonotonicUs());
            const ssize_t n = due > 0 ? write(fd, out.data(), due) : 0;
            if (n > 0) {
                out.erase(out.begin(), out.begin() + n);
                pacer.Sent(static_cast<size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return std::string("writing the line failed: ") + std::strerror(errno);
            }
        }
        int64_t waitUs = loop.NextEventMs(now);
        if (waitUs < 0 || waitUs > kIdleWaitMs) waitUs = kIdleWaitMs;
        waitUs *= 1000;
        if (!out.empty()) {
            // A descriptor that would not take a due byte is asked again shortly.
            const int64_t retryUs = pacer.paced() ? std::max<int64_t>(pacer.UntilNextUs(MonotonicUs()), 100) : 5000;
            waitUs = std::min<int64_t>(waitUs, retryUs);
        }
        const timespec timeout{static_cast<time_t>(waitUs / 1'000'000), static_cast<long>(waitUs % 1'000'000) * 1000};
        pollfd p{fd, POLLIN, 0};
        const int ready = ppoll(&p, 1, &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return std::string("waiting on the line failed: ") + std::strerror(errno);
        }
        if (ready > 0 && (p.revents & POLLIN)) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                loop.Receive(buffer, static_cast<size_t>(n), MonotonicMs());
            } else if (n == 0) {
                // A hung-up line reads as end of file at once, again and again:
                // wait for the far end instead of spinning.
                usleep(kIdleWaitMs * 1000);
            } else if (errno != EAGAIN && errno != EINTR) {
                return std::string("reading the line failed: ") + std::strerror(errno);
            }
        } else if (ready > 0 && (p.revents & (POLLERR | POLLNVAL))) {
            return "the line failed";
        } else if (ready > 0 && (p.revents & POLLHUP)) {
            usleep(50 * 1000);  // nobody on the other side yet
        }
        loop.Expire(MonotonicMs());
    }
    return {};
}

}  // namespace vorlan_sim
