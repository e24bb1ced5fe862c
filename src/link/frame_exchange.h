// SPDX-License-Identifier: Apache-2.0
#pragma once
// Writes one request and collects the relay's answer into the same buffer,
// with the protocol's fixed pauses and deadlines.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/clock.h"
#include "platform/monitor_sink.h"
#include "platform/serial_port.h"
#include "link/relay_lookup.h"
#include "model/frame.h"

namespace vorlan {

// Error indexes the exchange records.
constexpr int32_t kErrorReplyTimeout = 6;
constexpr int32_t kErrorPortRead = 7;

// How the last exchange ended, for the relay's link statistics.
enum class ExchangeOutcome : uint8_t {
    NothingSent,     // empty request
    Refused,         // no registered relay and not the broadcast reset: nothing written
    Broadcast,       // the broadcast reset went out; no answer is awaited
    WriteFailed,
    TimedOut,
    ReadFailed,
    ForeignAnswer,   // a whole answer from another address, dropped
    Answered,
};

struct ExchangeContext {
    RelayLookup& relays;
    SerialPort* port;  // null while no channel is open
    Clock& clock;
    MonitorSink& monitor;
    std::atomic<int32_t>& errorIndex;
    ExchangeOutcome outcome = ExchangeOutcome::NothingSent;
    // Fast profile only. In: a shorter wait for the answer's first byte than
    // the line's (0: the line's), for a silent relay's retry. Out: how long
    // after the request the answer began, once one was taken.
    uint32_t answerWaitMs = 0;
    uint32_t answerDelayMs = 0;
};

// True for exactly the six-byte broadcast reset FF 80 01 00 with its CRC: the
// only frame that may go out without a registered relay's address.
bool IsBroadcastReset(const uint8_t* frame, int32_t length);

// Mirrors a frame to the monitor when the relay's trace is on.
void TraceExchange(ExchangeContext& ctx, const LinkRelay& relay, char direction,
                   const uint8_t* frame, int32_t length);

// How the start both timing profiles share ended.
enum class RequestStart {
    Sent,    // written to `relay`, traced: collect its answer
    Done,    // nothing awaits an answer: an empty request, or the broadcast reset written
    Failed,  // refused unwritten, or the write failed (ctx.outcome says which)
};

// Checks the request, finds its relay and writes it; the broadcast reset is
// followed by `broadcastPauseMs` and leaves the length 0.
RequestStart StartRequest(ExchangeContext& ctx, FrameBuffer& buffer, uint32_t broadcastPauseMs,
                          LinkRelay& relay);

// Drops waiting input, then writes the request; false when no port or the write fails.
bool WriteRequest(ExchangeContext& ctx, const uint8_t* frame, int32_t length);

// In: the request in `buffer`. Out: the answer and its length in the same
// buffer (the expected length is not used: framing reads the answer's own). Bytes waiting before the write are discarded, so nothing
// that arrived earlier is taken for the answer. Returns 1 when exchanged or
// nothing was to be sent, 0 on a write or read failure, a refused frame or a
// time-out. Never writes past `capacity`.
int32_t ExchangeFrame(ExchangeContext& ctx, FrameBuffer& buffer);

}  // namespace vorlan
