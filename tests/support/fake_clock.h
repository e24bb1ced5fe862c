// SPDX-License-Identifier: Apache-2.0
#pragma once
// A clock that advances only when slept or told to, so timing rules are
// tested exactly and at once.

#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace vorlan_test {

class FakeClock final : public vorlan::Clock {
public:
    uint32_t TickMs() override { return tick_; }
    void SleepMs(uint32_t ms) override {
        tick_ += ms;
        slept_ += ms;
        if (onAdvance) onAdvance(tick_);
    }
    uint64_t NowFileTime() override { return fileTime_; }
    vorlan::SystemTime NowLocal() override { return local_; }

    void Advance(uint32_t ms) { SleepMs(ms); }
    void SetTick(uint32_t tick) { tick_ = tick; }
    void SetFileTime(uint64_t ft) { fileTime_ = ft; }
    void SetLocal(const vorlan::SystemTime& t) { local_ = t; }
    uint64_t Slept() const { return slept_; }
    void ResetSlept() { slept_ = 0; }

    // Called after every advance with the new tick (a scripted port listens).
    std::function<void(uint32_t)> onAdvance;

private:
    uint32_t tick_ = 1000;
    uint64_t slept_ = 0;
    uint64_t fileTime_ = 132'000'000'000'000'000ULL;
    vorlan::SystemTime local_{2003, 12, 4, 25, 23, 59, 5, 0};
};

}  // namespace vorlan_test
