// SPDX-License-Identifier: Apache-2.0
#include "link/fast_exchange.h"

#include "link/answer_framing.h"

namespace vorlan {
namespace {

constexpr size_t kReadCap = 512;            // a read of exactly this much is dropped
constexpr int32_t kHeaderBytes = 3;         // address, command, data count
constexpr int32_t kFrameOverheadBytes = 5;  // header + 2 CRC bytes
constexpr int32_t kLongAnswer = 243 + kFrameOverheadBytes;
constexpr size_t kMaxAnswerBytes = 255 + kFrameOverheadBytes;

// Wraps with the 32-bit tick.
bool Reached(uint32_t now, uint32_t deadline) {
    return static_cast<int32_t>(now - deadline) >= 0;
}

enum class Collected { Whole, TimedOut, PortFailed };

// Wakes for the first bytes, sleeps through the wire time of what is still
// missing (the header, then the rest of the frame) and reads it in one go,
// so a frame costs a few wake-ups, not one per byte.
Collected CollectAnswer(ExchangeContext& ctx, const FastTiming& t, uint32_t firstDeadline,
                        AnswerFraming& a) {
    uint8_t readBuffer[kReadCap];
    uint32_t deadline = firstDeadline;
    // Bytes that keep coming (noise, a chatty neighbour) never hold the line
    // longer than the longest answer could take after the first deadline.
    const uint32_t lastDeadline = firstDeadline + WireMs(t, kMaxAnswerBytes) + t.slowAnswerTimeoutMs;
    for (;;) {
        const uint32_t now = ctx.clock.TickMs();
        if (Reached(now, deadline)) return Collected::TimedOut;
        const WaitResult wait = ctx.port->WaitReadable(deadline - now);
        if (wait == WaitResult::Failed) return Collected::PortFailed;
        if (wait == WaitResult::TimedOut) continue;

        size_t waiting = 0;
        if (!ctx.port->BytesWaiting(waiting)) return Collected::PortFailed;
        const int32_t missing = (a.expected() > 0 ? a.expected() : kHeaderBytes) - a.length();
        if (missing > 0 && waiting < static_cast<size_t>(missing)) {
            ctx.clock.SleepMs(WireMs(t, static_cast<size_t>(missing) - waiting));
        }
        size_t got = 0;
        if (!ctx.port->Read(readBuffer, sizeof readBuffer, got)) return Collected::PortFailed;
        if (got == 0) continue;
        if (got == kReadCap) continue;  // an overrun, not an answer
        if (a.Take(readBuffer, got)) return Collected::Whole;
        // The rest of a started frame gets the character gap; after another
        // relay's frame the wait for the own answer goes on to its deadline.
        const uint32_t gap = a.expected() == kLongAnswer ? t.slowAnswerTimeoutMs : t.interCharTimeoutMs;
        deadline = a.length() > 0 ? ctx.clock.TickMs() + gap : firstDeadline;
        if (Reached(deadline, lastDeadline)) deadline = lastDeadline;
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
    const uint32_t heard = ctx.clock.TickMs() + WireMs(timing, static_cast<size_t>(length));
    uint32_t wait = slowAnswer ? timing.slowAnswerTimeoutMs : timing.answerTimeoutMs;
    if (!slowAnswer && ctx.answerWaitMs > 0 && ctx.answerWaitMs < wait) wait = ctx.answerWaitMs;
    const uint32_t firstDeadline = heard + wait;
    AnswerFraming answer(frame, capacity, relay.address);
    length = 0;
    const Collected collected = CollectAnswer(ctx, timing, firstDeadline, answer);
    length = answer.length();  // a time-out leaves what was collected, as the standard exchange does
    if (collected == Collected::TimedOut) {
        ctx.errorIndex = kErrorReplyTimeout;
        // Only other relays' frames came: the relay asked did not answer.
        ctx.outcome = answer.sawForeign() && length == 0 ? ExchangeOutcome::ForeignAnswer
                                                         : ExchangeOutcome::TimedOut;
        return 0;
    }
    if (collected == Collected::PortFailed) {
        ctx.errorIndex = kErrorPortRead;
        ctx.outcome = ExchangeOutcome::ReadFailed;
        return 0;
    }
    const uint32_t took = ctx.clock.TickMs() - heard;
    const uint32_t onWire = WireMs(timing, static_cast<size_t>(length));
    ctx.answerDelayMs = took > onWire ? took - onWire : 0;
    AwaitQuietLine(ctx, timing);

    ctx.outcome = ExchangeOutcome::Answered;
    TraceExchange(ctx, relay, 'R', frame, length);
    return 1;
}

}  // namespace vorlan
