#include "link/frame_exchange.h"

#include <cstring>

#include "link/monitor_trace.h"
#include "model/commands.h"
#include "model/frame.h"

namespace vorlan {
namespace {

constexpr uint32_t kFirstDeadlineMs = 350;    // no poll starts after it
constexpr uint32_t kPollPauseMs = 150;        // before every poll
constexpr uint32_t kIdlePauseMs = 150;        // after a poll that found nothing
constexpr uint32_t kSlowAnswerPauseMs = 2000; // settings and long answers
constexpr uint32_t kPartialDeadlineMs = 40;   // after a partial answer
constexpr uint32_t kEndPauseMs = 250;         // after a complete answer
constexpr size_t kReadCap = 512;              // a read of exactly this much is dropped
constexpr int32_t kLongAnswer = 243 + 5;      // frame of 243 data bytes
constexpr int32_t kResetFrameSize = 6;

// Trace text for frames up to the probe's buffer: three characters a byte.
constexpr size_t kTraceBytes = 1024;
constexpr size_t kTraceText = 3 * kTraceBytes + 1;

// Wraps with the 32-bit tick.
bool Later(uint32_t now, uint32_t deadline) {
    return static_cast<int32_t>(now - deadline) > 0;
}

}  // namespace

void TraceExchange(ExchangeContext& ctx, const LinkRelay& relay, char direction,
                   const uint8_t* frame, int32_t length) {
    char text[kTraceText];
    const size_t size = FormatTrace(frame, static_cast<size_t>(length), text, sizeof text);
    if (relay.traced) MonitorTrace(ctx.monitor, direction, text, size);
}

// Whatever waits in the input queue now (a late answer to an earlier request,
// an answer to the reset, noise) can only be mistaken for this request's answer.
bool WriteRequest(ExchangeContext& ctx, const uint8_t* frame, int32_t length) {
    if (ctx.port == nullptr) return false;
    ctx.port->DiscardInput();
    return ctx.port->Write(frame, static_cast<size_t>(length));
}

bool IsBroadcastReset(const uint8_t* frame, int32_t length) {
    if (frame == nullptr || length != kResetFrameSize) return false;
    return frame[0] == kBroadcastAddress && frame[1] == Code(Request::Reset) && frame[2] == 1 &&
           frame[3] == 0 && CheckFrame(ByteView(frame, kResetFrameSize)) == 1;
}

RequestStart StartRequest(ExchangeContext& ctx, FrameBuffer& buffer, uint32_t broadcastPauseMs,
                          LinkRelay& relay) {
    const uint8_t* frame = buffer.data;
    int32_t& length = buffer.length;
    ctx.outcome = ExchangeOutcome::NothingSent;
    if (length == 0) return RequestStart::Done;
    ctx.outcome = ExchangeOutcome::Refused;
    if (frame == nullptr || length < 0 || static_cast<size_t>(length) > buffer.capacity) {
        return RequestStart::Failed;
    }
    const bool addressed = ctx.relays.Find(frame[0], relay);
    // Only the reset may address every relay; none answers it.
    if (!addressed && !IsBroadcastReset(frame, length)) return RequestStart::Failed;
    if (!WriteRequest(ctx, frame, length)) {
        ctx.outcome = ExchangeOutcome::WriteFailed;
        return RequestStart::Failed;
    }
    if (!addressed) {
        ctx.outcome = ExchangeOutcome::Broadcast;
        ctx.clock.SleepMs(broadcastPauseMs);
        length = 0;
        return RequestStart::Done;
    }
    TraceExchange(ctx, relay, 'T', frame, length);
    return RequestStart::Sent;
}

int32_t ExchangeFrame(ExchangeContext& ctx, FrameBuffer& buffer) {
    uint8_t* const frame = buffer.data;
    const size_t capacity = buffer.capacity;
    int32_t& length = buffer.length;
    LinkRelay relay;
    const RequestStart start = StartRequest(ctx, buffer, kEndPauseMs, relay);
    if (start != RequestStart::Sent) return start == RequestStart::Done ? 1 : 0;

    length = 0;
    int32_t expected = 0;  // answer length, 0 while unknown
    uint32_t deadline = ctx.clock.TickMs() + kFirstDeadlineMs;
    uint8_t readBuffer[kReadCap];
    for (;;) {
        if (Later(ctx.clock.TickMs(), deadline)) {
            ctx.errorIndex = kErrorReplyTimeout;
            ctx.outcome = ExchangeOutcome::TimedOut;
            return 0;
        }
        ctx.clock.SleepMs(kPollPauseMs);
        if (expected == kLongAnswer || relay.slowAnswer) {
            ctx.clock.SleepMs(kSlowAnswerPauseMs);
        }

        size_t waiting = 0;
        if (ctx.port == nullptr || !ctx.port->BytesWaiting(waiting)) {
            ctx.errorIndex = kErrorPortRead;
            ctx.outcome = ExchangeOutcome::ReadFailed;
            return 0;
        }
        size_t got = 0;
        if (waiting > 0 && !ctx.port->Read(readBuffer, sizeof readBuffer, got)) {
            ctx.errorIndex = kErrorPortRead;
            ctx.outcome = ExchangeOutcome::ReadFailed;
            return 0;
        }
        if (got == 0) {
            ctx.clock.SleepMs(kIdlePauseMs);
            continue;
        }
        if (got == kReadCap) continue;  // an overrun, not an answer

        // Bytes beyond the caller's buffer are dropped; such an answer fails its check.
        const size_t room = capacity - static_cast<size_t>(length);
        const size_t keep = got < room ? got : room;
        std::memcpy(frame + length, readBuffer, keep);
        length += static_cast<int32_t>(keep);

        // Framing: the answer's length follows from its byte 2. It runs once
        // at least 3 bytes beyond the known length have arrived.
        if (length - expected >= 3) {
            expected = frame[2] + 5;
            if (length >= expected) {
                if (frame[0] == relay.address) {
                    length = expected;  // stray bytes after the frame are cut
                } else {
                    length = 0;  // a whole answer from another relay is discarded
                    expected = 0;
                }
            }
        }

        if (length >= expected) {
            ctx.clock.SleepMs(kEndPauseMs);
            break;
        }
        deadline = ctx.clock.TickMs() + kPartialDeadlineMs;
    }

    ctx.outcome = length > 0 ? ExchangeOutcome::Answered : ExchangeOutcome::ForeignAnswer;
    TraceExchange(ctx, relay, 'R', frame, length);
    return 1;
}

}  // namespace vorlan
