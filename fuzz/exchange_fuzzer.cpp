// SPDX-License-Identifier: Apache-2.0
// The exchange's framing fed arbitrary byte arrivals through the fake clock
// and the scripted port. The frame buffer is allocated at its exact capacity
// so that any write past it is caught.
//
// Input: [flags][arrivals...], each arrival [delay in 10 ms steps][count][bytes].
//   flags bit 0: the relay waits long (nextCommand 0x85); bits 1-2: capacity
//   (16, 64, 512 or 1024 bytes); bit 3: the read fails after the first poll;
//   bit 4: the fast timing profile's exchange instead of the standard one.

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fake_clock.h"
#include "component/relay_driver.h"
#include "link/fast_exchange.h"
#include "scripted_port.h"
#include "component/polling_relays.h"

namespace {

class NoMonitor final : public vorlan::MonitorSink {
public:
    void SendLine(const char*, size_t) override {}
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("VORLAN_MONITOR", "vorlan-fuzz-no-monitor", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    auto clockOwned = std::make_unique<vorlan_test::FakeClock>();
    vorlan_test::FakeClock& clock = *clockOwned;
    vorlan::CRelayDriver driver(std::move(clockOwned));
    int32_t address = 0;
    driver.AddDevice("1", &address);
    driver.AddDevice("2", &address);
    driver.State().devices[0].host.traceOn = 1;

    const uint8_t flags = data[0];
    if (flags & 1) driver.State().devices[0].conversation.nextCommand = vorlan::Request::SettingRead;
    static const size_t kCapacities[] = {16, 64, 512, 1024};
    const size_t capacity = kCapacities[(flags >> 1) & 3];

    auto port = std::make_unique<vorlan_test::ScriptedPort>(clock);
    vorlan_test::ScriptedPort& script = *port;
    uint32_t at = 0;
    size_t pos = 1;
    while (pos + 2 <= size) {
        at += static_cast<uint32_t>(data[pos]) * 10;
        size_t count = data[pos + 1];
        pos += 2;
        if (count > size - pos) count = size - pos;
        script.Answer(at, std::vector<uint8_t>(data + pos, data + pos + count));
        pos += count;
    }
    driver.SetPort(std::move(port));

    std::unique_ptr<uint8_t[]> frame(new uint8_t[capacity]());
    const uint8_t poll[] = {0x01, 0x83, 0x00, 0x30, 0xF0};
    for (size_t i = 0; i < sizeof poll; ++i) frame[i] = poll[i];
    int32_t length = sizeof poll;
    if (flags & 8) {
        clock.onAdvance = [&script](uint32_t) { script.failRead = true; };
    }
    int32_t ok = 0;
    vorlan::FrameBuffer buffer{frame.get(), capacity, length, 3};
    if (flags & 16) {
        NoMonitor monitor;
        std::atomic<int32_t> errorIndex{-1};
        vorlan::PollingRelays relays(driver.State());
        vorlan::ExchangeContext ctx{relays, &script, clock, monitor, errorIndex};
        ok = vorlan::ExchangeFrameFast(ctx, vorlan::FastTiming{}, buffer);
    } else {
        ok = driver.ExchangeFrame(buffer);
    }
    length = buffer.length;
    if (length < 0 || static_cast<size_t>(length) > capacity) std::abort();
    if (ok == 1 && length > 0) driver.ParseAnswer(nullptr, frame.get(), length);
    return 0;
}
