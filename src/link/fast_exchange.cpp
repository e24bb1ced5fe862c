#include "link/fast_exchange.h"

#include <cstring>

namespace vorlan {
namespace {

constexpr size_t kReadCap = 512;            // a read of exactly this much is dropped
constexpr int32_t kHeaderBytes = 3;         // address, command, data count
constexpr int32_t kFrameOverheadBytes = 5;  // header + 2 CRC bytes
constexpr int32_t kLongAnswer = 243 + kFrameOverheadBytes;

// Wraps with the 32-bit tick.
bool Reached(uint32_t now, uint32_t deadline) {
    return static_cast<int32_t>(now - deadline) >= 0;
}

enum class Collected { Whole, TimedOut, PortFailed };

struct Collecting {
    uint8_t* frame;
    size_t capacity;
    int32_t length = 0;
    int32_t expected = 0;  // 0 while the length byte has not arrived
};

// Appends bytes (those beyond the caller's buffer are dropped) and applies the
// framing: the length follows from byte 2; a whole frame from the relay is
// cut to its length, one from another address is dropped. True when done.
bool TakeBytes(Collecting& a, const uint8_t* bytes, size_t got, uint8_t address) {
    const size_t room = a.capacity - static_cast<size_t>(a.length);
    const size_t keep = got < room ? got : room;
    std::memcpy(a.frame + a.length, bytes, keep);
    a.length += static_cast<int32_t>(keep);
    if (a.expected == 0 && a.length >= kHeaderBytes) a.expected = a.frame[2] + kFrameOverheadBytes;
    if (a.expected == 0 || a.length < a.expected) return false;
    if (a.frame[0] == address) {
        a.length = a.expected;  // stray bytes after the frame are cut
    } else {
        a.length = 0;  // a whole answer from another relay is discarded
        a.expected = 0;
    }
    return true;
}

// Wakes for the first bytes, sleeps through the wire time of what is still
// missing (the header, then the rest of the frame) and reads it in one go,
// so a frame costs a few wake-ups, not one per byte.
Collected CollectAnswer(ExchangeContext& ctx, const FastTiming& t, uint8_t address,
                        uint32_t deadline, Collecting& a) {
    uint8_t readBuffer[kReadCap];
    for (;;) {
        const uint32_t now = ctx.clock.TickMs();
        if (Reached(now, deadline)) return Collected::TimedOut;
        const WaitResult wait = ctx.port->WaitReadable(deadline - now);
        if (wait == WaitResult::Failed) return Collected::PortFailed;
        if (wait == WaitResult::TimedOut) continue;

        size_t waiting = 0;
        if (!ctx.port->BytesWaiting(waiting)) return Collected::PortFailed;
        const int32_t missing = (a.expected > 0 ? a.expected : kHeaderBytes) - a.length;
        if (missing > 0 && waiting < static_cast<size_t>(missing)) {
            ctx.clock.SleepMs(WireMs(t, static_cast<size_t>(missing) - waiting));
        }
        size_t got = 0;
        if (!ctx.port->Read(readBuffer, sizeof readBuffer, got)) return Collected::PortFailed;
        if (got == 0) continue;
        if (got == kReadCap) continue;  // an overrun, not an answer
        if (TakeBytes(a, readBuffer, got, address)) return Collected::Whole;
        const uint32_t gap = a.expected == kLongAnswer ? t.slowAnswerTimeoutMs : t.interCharTimeoutMs;
        deadline = ctx.clock.TickMs() + gap;
    }
}

// The line must stay quiet for the guard time before the next request; what
// arrives meanwhile belongs to no request and is dropped. A line that never
// falls quiet is left after one answer time-out.
void AwaitQuietLine(ExchangeContext& ctx, const FastTiming& t) {
    const uint32_t limit = ctx.clock.TickMs() + t.answerTimeoutMs;
    while (ctx.port->WaitReadable(t.guardMs) == WaitResult::Readable) {
        ctx.port->DiscardInput();
        if (Reached(ctx.clock.TickMs(), limit)) return;
    }
}

}  // namespace

uint32_t WireMs(const FastTiming& timing, size_t bytes) {
    const uint64_t us = static_cast<uint64_t>(bytes) * timing.charTimeUs;
    return static_cast<uint32_t>((us + 999) / 1000);
}

int32_t ExchangeFrameFast(ExchangeContext& ctx, const FastTiming& timing, FrameBuffer& buffer) {
    uint8_t* const frame = buffer.data;
    const size_t capacity = buffer.capacity;
    int32_t& length = buffer.length;
    LinkRelay relay;
    const uint32_t broadcastPauseMs = WireMs(timing, static_cast<size_t>(length)) + timing.guardMs;
    const RequestStart start = StartRequest(ctx, buffer, broadcastPauseMs, relay);
    if (start != RequestStart::Sent) return start == RequestStart::Done ? 1 : 0;
    const bool slowAnswer = relay.slowAnswer;

    // The write returns once the request is queued; the relay hears it whole later.
    const uint32_t firstDeadline = ctx.clock.TickMs() + WireMs(timing, static_cast<size_t>(length)) +
                                   (slowAnswer ? timing.slowAnswerTimeoutMs : timing.answerTimeoutMs);
    Collecting answer{frame, capacity};
    length = 0;
    const Collected collected = CollectAnswer(ctx, timing, relay.address, firstDeadline, answer);
    length = answer.length;  // a time-out leaves what was collected, as the standard exchange does
    if (collected == Collected::TimedOut) {
        ctx.errorIndex = kErrorReplyTimeout;
        ctx.outcome = ExchangeOutcome::TimedOut;
        return 0;
    }
    if (collected == Collected::PortFailed) {
        ctx.errorIndex = kErrorPortRead;
        ctx.outcome = ExchangeOutcome::ReadFailed;
        return 0;
    }
    AwaitQuietLine(ctx, timing);

    ctx.outcome = length > 0 ? ExchangeOutcome::Answered : ExchangeOutcome::ForeignAnswer;
    TraceExchange(ctx, relay, 'R', frame, length);
    return 1;
}

}  // namespace vorlan
