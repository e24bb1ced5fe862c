#include "line_loop.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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
        if (!answer.empty() && chunks.empty() && log_) log_("   (answer dropped)");
        for (LineChunk& c : chunks) {
            if (log_) {
                log_("-> " + HexText(c.bytes.data(), c.bytes.size()) + "  (+" + std::to_string(c.delayMs) + " ms)");
            }
            Scheduled s{nowMs + c.delayMs, std::move(c.bytes)};
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

std::string RunLine(int fd, LineLoop& loop, const std::atomic<bool>& stop) {
    std::vector<uint8_t> out;  // bytes the descriptor has not taken yet
    uint8_t buffer[1024];
    while (!stop.load()) {
        const int64_t now = MonotonicMs();
        for (auto& chunk : loop.TakeDue(now)) out.insert(out.end(), chunk.begin(), chunk.end());
        if (!out.empty()) {
            const ssize_t n = write(fd, out.data(), out.size());
            if (n > 0) {
                out.erase(out.begin(), out.begin() + n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return std::string("writing the line failed: ") + std::strerror(errno);
            }
        }
        int wait = loop.NextEventMs(now);
        if (wait < 0 || wait > kIdleWaitMs) wait = kIdleWaitMs;
        if (!out.empty()) wait = std::min(wait, 5);
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, wait);
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
