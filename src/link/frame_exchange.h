#pragma once
// Writes one request and collects the relay's answer into the same buffer,
// with the protocol's fixed pauses and deadlines.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/clock.h"
#include "platform/monitor_sink.h"
#include "platform/serial_port.h"
#include "points/device_record.h"

namespace vorlan {

// Error indexes the exchange records.
constexpr int32_t kErrorReplyTimeout = 6;
constexpr int32_t kErrorPortRead = 7;

struct ExchangeContext {
    PollingState& state;
    SerialPort* port;  // null while no channel is open
    Clock& clock;
    MonitorSink& monitor;
    std::atomic<int32_t>& errorIndex;
};

// In: `length` request bytes in `frame` (of `capacity` bytes). Out: the answer
// and its length. Returns 1 when exchanged or nothing was to be sent, 0 on a
// write or read failure, an unregistered address or a time-out. Never writes
// past `capacity`.
int32_t ExchangeFrame(ExchangeContext& ctx, uint8_t* frame, size_t capacity, int32_t& length,
                      int32_t expectedLength);

}  // namespace vorlan
