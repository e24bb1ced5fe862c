// SPDX-License-Identifier: Apache-2.0
#pragma once
// A port on a 2-wire adapter that hands back every byte it sends: after each
// write the echo is read back and compared, so the exchange sees only the
// relay's answer. An echo that is missing or differs from the request makes
// the next read-side call fail once, which the exchange records as a read
// failure (error index 7).

#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "platform/serial_port.h"

namespace vorlan {

class EchoSuppressingPort final : public SerialPort {
public:
    // `charTimeUs` is one character's wire time; the echo may trail the
    // request's wire time by `slackMs`. `clock` must outlive the port.
    EchoSuppressingPort(std::unique_ptr<SerialPort> inner, Clock& clock, uint32_t charTimeUs,
                        uint32_t slackMs);

    bool IsOpen() const override { return inner_->IsOpen(); }
    bool Write(const uint8_t* data, size_t size) override;
    bool BytesWaiting(size_t& count) override;
    bool Read(uint8_t* buffer, size_t capacity, size_t& got) override;
    WaitResult WaitReadable(uint32_t timeoutMs) override;
    void DiscardInput() override { inner_->DiscardInput(); }
    void Close() override { inner_->Close(); }

private:
    bool ReadBackEcho(const uint8_t* data, size_t size);
    bool TakeEchoFailure();

    std::unique_ptr<SerialPort> inner_;
    Clock& clock_;
    uint32_t charTimeUs_;
    uint32_t slackMs_;
    bool echoFailed_ = false;
};

}  // namespace vorlan
