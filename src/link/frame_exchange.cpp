#include "link/frame_exchange.h"

#include "link/answer_framing.h"
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
    AnswerFraming answer(frame, capacity, relay.address);
    const uint32_t firstDeadline = ctx.clock.TickMs() + kFirstDeadlineMs;
    // Bytes that keep coming (noise, a chatty neighbour) never hold the line
    // past the time a slow answer may take.
    const uint32_t lastDeadline = firstDeadline + kSlowAnswerPauseMs + kEndPauseMs;
    uint32_t deadline = firstDeadline;
    uint8_t readBuffer[kReadCap];
    for (;;) {
        if (Later(ctx.clock.TickMs(), deadline)) {
            length = answer.length();
            ctx.errorIndex = kErrorReplyTimeout;
            // Only other relays' frames came: the relay asked did not answer.
            ctx.outcome = answer.sawForeign() && length == 0 ? ExchangeOutcome::ForeignAnswer
                                                             : ExchangeOutcome::TimedOut;
            return 0;
        }
        ctx.clock.SleepMs(kPollPauseMs);
        if (answer.expected() == kLongAnswer || relay.slowAnswer) {
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

        if (answer.Take(readBuffer, got)) {
            ctx.clock.SleepMs(kEndPauseMs);
            break;
        }
        // The rest of a started frame gets a short while; after another
        // relay's frame the wait for the own answer goes on to its deadline.
        deadline = answer.length() > 0 ? ctx.clock.TickMs() + kPartialDeadlineMs : firstDeadline;
        if (Later(deadline, lastDeadline)) deadline = lastDeadline;
    }
    length = answer.length();

    ctx.outcome = ExchangeOutcome::Answered;
    TraceExchange(ctx, relay, 'R', frame, length);
    return 1;
}

}  // namespace vorlan
