// SPDX-License-Identifier: Apache-2.0
#pragma once
// Time for the driver: a wrapping millisecond tick with a sleep for the
// exchange's pauses and deadlines, and the wall clock for timestamps.
// The driver owns one; tests inject a fake that advances when slept.

#include <cstdint>

#include "platform/calendar.h"

namespace vorlan {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start, wrapping at 2^32.
    virtual uint32_t TickMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
    // Current UTC time as 100 ns intervals since 1601-01-01.
    virtual uint64_t NowFileTime() = 0;
    // Current local calendar time with milliseconds.
    virtual SystemTime NowLocal() = 0;
};

// Monotonic tick, real sleep, real-time clock, localtime_r.
class RealClock final : public Clock {
public:
    uint32_t TickMs() override;
    void SleepMs(uint32_t ms) override;
    uint64_t NowFileTime() override;
    SystemTime NowLocal() override;
};

}  // namespace vorlan
