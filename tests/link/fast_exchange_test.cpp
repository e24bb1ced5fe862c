// The fast profile's rules on the fake clock: every wait is the scripted
// port moving the clock, so the deadlines are checked to the millisecond.

#include "link/fast_exchange.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "hex.h"
#include "scripted_port.h"
#include "component/polling_relays.h"
#include "frame_calls.h"

namespace {

using vorlan::ExchangeOutcome;
using vorlan_test::FakeClock;
using vorlan_test::Hex;
using vorlan_test::MakeFrame;
using vorlan_test::ScriptedPort;
using vorlan_test::ToHex;
using vorlan_test::WithCrc;

class LineRecorder final : public vorlan::MonitorSink {
public:
    void SendLine(const char* text, size_t size) override { lines.emplace_back(text, size); }
    std::vector<std::string> lines;
};

// 9600 baud, 10-bit characters: 1042 us each, a 5-byte poll on the wire in
// 6 ms; answer time-out 450 ms, inter-character 40 ms, guard 4 ms.
class FastExchangeTest : public ::testing::Test {
protected:
    FastExchangeTest() : port(clock) {
        state.devices[0].address = 1;
        state.devices[0].host.traceOn = 1;
        state.devices[1].address = 2;
        state.devices[1].index = 1;
        state.deviceCount = 2;
    }

    int32_t Exchange(const std::vector<uint8_t>& request) {
        buffer.assign(512, 0);
        std::copy(request.begin(), request.end(), buffer.begin());
        length = static_cast<int32_t>(request.size());
        vorlan::PollingRelays relays(state);
        vorlan::ExchangeContext ctx{relays, &port, clock, monitor, errorIndex};
        start = clock.TickMs();
        const int32_t result = vorlan_test::ExchangeFastIn(ctx, timing, buffer.data(), buffer.size(), length);
        outcome = ctx.outcome;
        answer.assign(buffer.begin(), buffer.begin() + (length > 0 ? length : 0));
        return result;
    }
    uint32_t Took() { return clock.TickMs() - start; }

    FakeClock clock;
    ScriptedPort port;
    LineRecorder monitor;
    vorlan::PollingState state;
    vorlan::FastTiming timing;
    std::atomic<int32_t> errorIndex{-1};
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> answer;
    int32_t length = 0;
    uint32_t start = 0;
    ExchangeOutcome outcome = ExchangeOutcome::NothingSent;

    const std::vector<uint8_t> poll1 = Hex("01 83 00 30 F0");
    const std::vector<uint8_t> answer10 = WithCrc("01 06 05 01 02 03 04 05");
};

TEST_F(FastExchangeTest, WholeAnswerReturnsAfterTheGuardWithBothTraces) {
    port.Answer(20, answer10);
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
    EXPECT_EQ(outcome, ExchangeOutcome::Answered);
    EXPECT_EQ(Took(), 20u + timing.guardMs);  // not 150 + 250
    EXPECT_EQ(port.discards, 1);              // stale input dropped before the write
    ASSERT_EQ(monitor.lines.size(), 2u);
    EXPECT_EQ(monitor.lines[0], "T=>01 83 00 30 F0 ");
    EXPECT_EQ(monitor.lines[1], "R=>" + ToHex(answer10) + " ");
    EXPECT_EQ(errorIndex.load(), -1);
}

TEST_F(FastExchangeTest, StrayBytesAreCutAndBytesDuringTheGuardRestartIt) {
    std::vector<uint8_t> withStray = answer10;
    withStray.insert(withStray.end(), {0xAA, 0xBB});
    port.Answer(20, withStray);
    port.Answer(22, {0xCC});  // inside the guard
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
    EXPECT_EQ(Took(), 22u + timing.guardMs);
}

TEST_F(FastExchangeTest, AnswerSplitWithinTheInterCharacterTimeoutIsJoined) {
    port.Answer(20, std::vector<uint8_t>(answer10.begin(), answer10.begin() + 4));
    port.Answer(20 + timing.interCharTimeoutMs - 1, std::vector<uint8_t>(answer10.begin() + 4, answer10.end()));
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
}

TEST_F(FastExchangeTest, StallBeyondTheInterCharacterTimeoutIsATimeout) {
    port.Answer(20, std::vector<uint8_t>(answer10.begin(), answer10.begin() + 4));
    port.Answer(20 + timing.interCharTimeoutMs + 1, std::vector<uint8_t>(answer10.begin() + 4, answer10.end()));
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex.load(), vorlan::kErrorReplyTimeout);
    EXPECT_EQ(outcome, ExchangeOutcome::TimedOut);
    EXPECT_EQ(Took(), 20u + timing.interCharTimeoutMs);
    EXPECT_EQ(monitor.lines.size(), 1u);  // the send trace only
}

TEST_F(FastExchangeTest, OneOrTwoBytesAloneAreNotAnAnswer) {
    port.Answer(20, {0x01, 0x06});
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex.load(), vorlan::kErrorReplyTimeout);
}

TEST_F(FastExchangeTest, SilentRelayTimesOutAfterTheRequestAndTheAnswerTimeout) {
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex.load(), vorlan::kErrorReplyTimeout);
    EXPECT_EQ(Took(), vorlan::WireMs(timing, poll1.size()) + timing.answerTimeoutMs);
}

TEST_F(FastExchangeTest, AnswerFromAnotherAddressAloneIsAFailure) {
    const std::vector<uint8_t> fromTwo = WithCrc("02 06 05 01 02 03 04 05");
    port.Answer(20, fromTwo);
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(outcome, ExchangeOutcome::ForeignAnswer);
    EXPECT_EQ(errorIndex.load(), vorlan::kErrorReplyTimeout);
    // The wait for the relay's own answer went on to its deadline.
    EXPECT_EQ(Took(), vorlan::WireMs(timing, poll1.size()) + timing.answerTimeoutMs);

    // Arriving in parts it is dropped too: the address is always tested.
    port.Answer(20, std::vector<uint8_t>(fromTwo.begin(), fromTwo.begin() + 5));
    port.Answer(30, std::vector<uint8_t>(fromTwo.begin() + 5, fromTwo.end()));
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(outcome, ExchangeOutcome::ForeignAnswer);
}

TEST_F(FastExchangeTest, OwnAnswerAfterAForeignFrameIsTaken) {
    std::vector<uint8_t> both = WithCrc("02 06 05 01 02 03 04 05");
    both.insert(both.end(), answer10.begin(), answer10.end());
    port.Answer(20, both);  // one read holds both frames
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
    EXPECT_EQ(outcome, ExchangeOutcome::Answered);

    port.Answer(20, WithCrc("02 06 05 01 02 03 04 05"));
    port.Answer(60, answer10);  // a later read
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
}

TEST_F(FastExchangeTest, EndlessNoiseEndsTheExchangeInBoundedTime) {
    for (uint32_t at = 20; at < 20000; at += 5) port.Answer(at, std::vector<uint8_t>(7, 0x5A));
    EXPECT_EQ(Exchange(poll1), 0);
    // The first deadline, the longest answer and its gap, and at most one
    // more frame's wire time for the read that was under way.
    EXPECT_LE(Took(), vorlan::WireMs(timing, poll1.size()) + timing.answerTimeoutMs +
                          2 * vorlan::WireMs(timing, 260) + timing.slowAnswerTimeoutMs);
}

TEST_F(FastExchangeTest, BroadcastResetIsFollowedByItsWireTimeAndTheGuardOnly) {
    const std::vector<uint8_t> reset = WithCrc("FF 80 01 00");
    port.Answer(10, answer10);  // nobody may answer a broadcast; nothing is read
    EXPECT_EQ(Exchange(reset), 1);
    EXPECT_EQ(outcome, ExchangeOutcome::Broadcast);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(Took(), vorlan::WireMs(timing, reset.size()) + timing.guardMs);
    EXPECT_EQ(port.reads, 0);
    ASSERT_EQ(port.written.size(), 1u);

    // Any other unaddressed frame stays unwritten.
    EXPECT_EQ(Exchange(WithCrc("FF 83 00")), 0);
    EXPECT_EQ(outcome, ExchangeOutcome::Refused);
    EXPECT_EQ(port.written.size(), 1u);
}

TEST_F(FastExchangeTest, SettingReadWaitsTheSlowAnswerTimeout) {
    state.devices[0].conversation.nextCommand = vorlan::Request::SettingRead;
    port.Answer(2000, answer10);
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);

    state.devices[0].conversation.nextCommand = vorlan::Request::GeneralPoll;
    port.Answer(2000, answer10);
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(Took(), vorlan::WireMs(timing, poll1.size()) + timing.answerTimeoutMs);

    state.devices[0].conversation.nextCommand = vorlan::Request::SettingRead;
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(Took(), vorlan::WireMs(timing, poll1.size()) + timing.slowAnswerTimeoutMs);
}

TEST_F(FastExchangeTest, LongAnnouncementMayPauseUpToTheSlowAnswerTimeout) {
    const std::vector<uint8_t> long248 = MakeFrame(1, 0x06, std::vector<uint8_t>(243, 0x11));
    ASSERT_EQ(long248.size(), 248u);
    port.Answer(20, std::vector<uint8_t>(long248.begin(), long248.begin() + 100));
    port.Answer(1500, std::vector<uint8_t>(long248.begin() + 100, long248.end()));
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, long248);
}

TEST_F(FastExchangeTest, AnswerArrivingByteByByteCostsAFewWakeUpsNotOnePerByte) {
    for (size_t i = 0; i < answer10.size(); ++i) port.Answer(20 + static_cast<uint32_t>(i), {answer10[i]});
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
    EXPECT_LE(port.reads, 3);
    EXPECT_LE(port.waits, 4);  // first byte, rest, guard
}

TEST_F(FastExchangeTest, PortFailuresKeepTheirErrorsAndNothingUnaskedIsSent) {
    port.failRead = true;
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex.load(), vorlan::kErrorPortRead);
    EXPECT_EQ(outcome, ExchangeOutcome::ReadFailed);
    port.failRead = false;

    port.failWrite = true;
    errorIndex = -1;
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(outcome, ExchangeOutcome::WriteFailed);
    EXPECT_EQ(errorIndex.load(), -1);
    port.failWrite = false;

    EXPECT_EQ(Exchange(Hex("07 83 00 00 00")), 0);
    EXPECT_EQ(Exchange({}), 1);
    EXPECT_EQ(port.written.size(), 1u);  // only the failed read's request went out
}

}  // namespace
