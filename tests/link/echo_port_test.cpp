// SPDX-License-Identifier: Apache-2.0
// Local echo on a 2-wire adapter: the request's own bytes are read back and
// dropped before the answer; an echo that differs fails the exchange with
// the read error, in both timing profiles.

#include "link/echo_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "fake_clock.h"
#include "hex.h"
#include "link/fast_exchange.h"
#include "scripted_port.h"
#include "component/polling_relays.h"
#include "frame_calls.h"

namespace {

using vorlan_test::FakeClock;
using vorlan_test::Hex;
using vorlan_test::ScriptedPort;
using vorlan_test::WithCrc;

class NoMonitor final : public vorlan::MonitorSink {
public:
    void SendLine(const char*, size_t) override {}
};

class EchoTest : public ::testing::TestWithParam<bool> {
protected:
    EchoTest() {
        auto scripted = std::make_unique<ScriptedPort>(clock);
        line = scripted.get();
        port = std::make_unique<vorlan::EchoSuppressingPort>(std::move(scripted), clock, 1042, 40);
        state.devices[0].address = 1;
        state.deviceCount = 1;
    }

    int32_t Exchange(const std::vector<uint8_t>& request) {
        buffer.assign(512, 0);
        std::copy(request.begin(), request.end(), buffer.begin());
        length = static_cast<int32_t>(request.size());
        vorlan::PollingRelays relays(state);
        vorlan::ExchangeContext ctx{relays, port.get(), clock, monitor, errorIndex};
        const bool fast = GetParam();
        const int32_t result =
            fast ? vorlan_test::ExchangeFastIn(ctx, vorlan::FastTiming{}, buffer.data(), buffer.size(), length)
                 : vorlan_test::ExchangeIn(ctx, buffer.data(), buffer.size(), length);
        answer.assign(buffer.begin(), buffer.begin() + (length > 0 ? length : 0));
        return result;
    }

    FakeClock clock;
    ScriptedPort* line = nullptr;
    std::unique_ptr<vorlan::EchoSuppressingPort> port;
    NoMonitor monitor;
    vorlan::PollingState state;
    std::atomic<int32_t> errorIndex{-1};
    std::vector<uint8_t> buffer, answer;
    int32_t length = 0;

    const std::vector<uint8_t> poll1 = Hex("01 83 00 30 F0");
    const std::vector<uint8_t> answer10 = WithCrc("01 06 05 01 02 03 04 05");
};

TEST_P(EchoTest, EchoIsDroppedAndTheAnswerKept) {
    line->echo = [](const std::vector<uint8_t>& sent) { return sent; };
    line->Answer(30, answer10);
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
    EXPECT_EQ(errorIndex.load(), -1);
}

TEST_P(EchoTest, EchoThatDiffersOrNeverComesFailsWithTheReadError) {
    line->echo = [](std::vector<uint8_t> sent) {
        sent[3] ^= 0x01;  // a bit lost on the line
        return sent;
    };
    line->Answer(30, answer10);
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex.load(), vorlan::kErrorPortRead);

    line->echo = nullptr;  // the adapter's echo is missing
    errorIndex = -1;
    line->Answer(30, answer10);
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex.load(), vorlan::kErrorPortRead);

    // The failure is the one exchange's: the next one with its echo succeeds.
    line->echo = [](const std::vector<uint8_t>& sent) { return sent; };
    line->Answer(30, answer10);
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
}

TEST_P(EchoTest, ShortEchoDoesNotEatTheAnswer) {
    // Four of the five echo bytes, then the answer: the fifth "echo" byte is
    // the answer's first, and the exchange fails instead of taking a cut answer.
    line->echo = [](const std::vector<uint8_t>& sent) {
        return std::vector<uint8_t>(sent.begin(), sent.begin() + 4);
    };
    line->Answer(1, answer10);
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex.load(), vorlan::kErrorPortRead);
}

INSTANTIATE_TEST_SUITE_P(BothProfiles, EchoTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Fast" : "Standard";
                         });

}  // namespace
