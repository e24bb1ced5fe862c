// SPDX-License-Identifier: Apache-2.0
#pragma once
// The serial port as the frame exchange sees it: write a request, learn how
// many bytes wait, wait until bytes arrive, read what waits without blocking,
// drop what waits.

#include <cstddef>
#include <cstdint>

#include "platform/rs485_settings.h"

namespace vorlan {

enum class WaitResult : uint8_t { Readable, TimedOut, Failed };

struct SerialSettings {
    int32_t baudRate = 9600;  // 300..57600
    uint8_t byteSize = 8;     // 5..8
    uint8_t parity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool twoStopBits = false;
    Rs485Settings rs485;      // direction control; off leaves the port as it is
};

class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual bool IsOpen() const = 0;
    // Writes all bytes or fails.
    virtual bool Write(const uint8_t* data, size_t size) = 0;
    // Number of bytes waiting in the input queue; false when the port failed.
    virtual bool BytesWaiting(size_t& count) = 0;
    // Returns as soon as a byte waits, or after `timeoutMs` without one.
    virtual WaitResult WaitReadable(uint32_t timeoutMs) = 0;
    // Reads at most `capacity` waiting bytes without waiting for more.
    virtual bool Read(uint8_t* buffer, size_t capacity, size_t& got) = 0;
    // Drops every byte waiting in the input queue.
    virtual void DiscardInput() = 0;
    virtual void Close() = 0;
};

}  // namespace vorlan
