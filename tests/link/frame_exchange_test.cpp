#include "link/frame_exchange.h"

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

// Two relays, at addresses 1 and 2, the first with its trace on.
class ExchangeTest : public ::testing::Test {
protected:
    ExchangeTest() : port(clock) {
        state.devices[0].address = 1;
        state.devices[0].host.traceOn = 1;
        state.devices[1].address = 2;
        state.devices[1].index = 1;
        state.deviceCount = 2;
    }

    // Exchanges `request` in a buffer of `capacity`; the answer lands in `answer`.
    int32_t Exchange(const std::vector<uint8_t>& request, size_t capacity = 512) {
        buffer.assign(capacity + 16, 0xEE);  // guard bytes after the capacity
        std::copy(request.begin(), request.end(), buffer.begin());
        length = static_cast<int32_t>(request.size());
        vorlan::PollingRelays relays(state);
        vorlan::ExchangeContext ctx{relays, &port, clock, monitor, errorIndex};
        clock.ResetSlept();
        const int32_t result = vorlan_test::ExchangeIn(ctx, buffer.data(), capacity, length);
        answer.assign(buffer.begin(), buffer.begin() + (length > 0 ? length : 0));
        return result;
    }

    bool GuardIntact(size_t capacity) const {
        for (size_t i = capacity; i < buffer.size(); ++i) {
            if (buffer[i] != 0xEE) return false;
        }
        return true;
    }

    FakeClock clock;
    ScriptedPort port;
    LineRecorder monitor;
    vorlan::PollingState state;
    std::atomic<int32_t> errorIndex{-1};
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> answer;
    int32_t length = 0;

    const std::vector<uint8_t> poll1 = Hex("01 83 00 30 F0");
    const std::vector<uint8_t> answer10 = WithCrc("01 06 05 01 02 03 04 05");
};

TEST_F(ExchangeTest, NothingToSendTouchesNothing) {
    EXPECT_EQ(Exchange({}), 1);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(clock.Slept(), 0u);
}

TEST_F(ExchangeTest, UnregisteredAddressIsRefusedUnwritten) {
    EXPECT_EQ(Exchange(Hex("07 83 00 00 00")), 0);
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(errorIndex, -1);
    EXPECT_EQ(clock.Slept(), 0u);
}

TEST_F(ExchangeTest, BroadcastResetIsWrittenWithoutWaitingForAnAnswer) {
    const auto reset = Hex("FF 80 01 00 30 6C");
    port.Answer(0, answer10);  // nobody answers a broadcast; stray bytes stay unread
    EXPECT_EQ(Exchange(reset), 1);
    ASSERT_EQ(port.written.size(), 1u);
    EXPECT_EQ(port.written[0], reset);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(clock.Slept(), 250u);
    EXPECT_TRUE(monitor.lines.empty());
}

TEST_F(ExchangeTest, OnlyTheResetGoesOutToEveryRelay) {
    // Each of these starts with the broadcast address; none is the reset.
    const std::vector<std::vector<uint8_t>> refused = {
        Hex("FF 83 00 51 00"),                 // a probe of address 255
        WithCrc("FF 98 03 00 02 CC"),          // a control selection
        WithCrc("FF 90 02 00 01"),             // a zone switch
        Hex("FF 80 01 00 30 6D"),              // the reset with a wrong CRC
        Hex("FF 80 01 00 30 6C 00"),           // the reset with a byte more
        Hex("FF 80 01 00 30"),                 // cut short
        WithCrc("FF 80 02 00 00"),             // the reset's code with other data
    };
    for (const auto& frame : refused) {
        EXPECT_EQ(Exchange(frame), 0) << ToHex(frame);
        EXPECT_FALSE(vorlan::IsBroadcastReset(frame.data(), static_cast<int32_t>(frame.size())));
    }
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(port.discards, 0);  // refused before the port is touched
    EXPECT_EQ(clock.Slept(), 0u);
}

TEST_F(ExchangeTest, StaleBytesAreDroppedBeforeTheRequest) {
    // Relay 1 answers too late: its answer arrives after the time-out ...
    port.Answer(700, answer10);
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex, 6);
    clock.Advance(200);
    port.Arrive(answer10);
    // ... and waits in the input queue when relay 1 is asked again. The next
    // answer differs; only it may count.
    const std::vector<uint8_t> fresh = WithCrc("01 06 05 09 09 09 09 09");
    port.Answer(100, fresh);
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(ToHex(answer), ToHex(fresh));
    EXPECT_EQ(port.discards, 2);
}

TEST_F(ExchangeTest, BroadcastWriteFailureFails) {
    port.failWrite = true;
    EXPECT_EQ(Exchange(Hex("FF 80 01 00 30 6C")), 0);
    EXPECT_EQ(clock.Slept(), 0u);
}

TEST_F(ExchangeTest, SilentRelayTimesOutAfter600msWithSendTraceOnly) {
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex, vorlan::kErrorReplyTimeout);
    EXPECT_EQ(clock.Slept(), 600u);
    ASSERT_EQ(monitor.lines.size(), 1u);
    EXPECT_EQ(monitor.lines[0], "T=>01 83 00 30 F0 ");
}

TEST_F(ExchangeTest, WholeAnswerBeforeFirstPollTakes400ms) {
    port.Answer(10, answer10);
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
    EXPECT_EQ(clock.Slept(), 400u);
    EXPECT_EQ(errorIndex, -1);
    ASSERT_EQ(monitor.lines.size(), 2u);
    EXPECT_EQ(monitor.lines[1], "R=>" + ToHex(answer10) + " ");
}

TEST_F(ExchangeTest, AnswerAtSecondPollStillCounts) {
    port.Answer(400, answer10);  // after the first poll, before the second
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
    EXPECT_EQ(clock.Slept(), 700u);  // polls at 150 and 450, then the end pause
}

TEST_F(ExchangeTest, StrayBytesAfterAWholeAnswerAreCut) {
    for (size_t stray : {2u, 4u}) {
        auto bytes = answer10;
        bytes.insert(bytes.end(), stray, 0x55);
        port.Answer(0, bytes);
        EXPECT_EQ(Exchange(poll1), 1) << stray;
        EXPECT_EQ(answer, answer10) << stray;
    }
}

TEST_F(ExchangeTest, AnswerSplitOverTwoPollsIsJoinedWithoutCutting) {
    // 5 bytes at the first poll, the other 5 and 2 stray bytes at the next.
    std::vector<uint8_t> first(answer10.begin(), answer10.begin() + 5);
    std::vector<uint8_t> second(answer10.begin() + 5, answer10.end());
    second.push_back(0x55);
    second.push_back(0x66);
    port.Answer(100, first);
    port.Answer(200, second);
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);  // the stray bytes are cut
    EXPECT_EQ(clock.Slept(), 150u + 150u + 250u);
}

TEST_F(ExchangeTest, LateSecondPartTimesOut) {
    port.Answer(100, std::vector<uint8_t>(answer10.begin(), answer10.begin() + 5));
    port.Answer(400, std::vector<uint8_t>(answer10.begin() + 5, answer10.end()));
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex, vorlan::kErrorReplyTimeout);
    EXPECT_EQ(monitor.lines.size(), 1u);  // send trace only
}

TEST_F(ExchangeTest, AnswerFromAnotherAddressAloneIsAFailure) {
    port.Answer(0, WithCrc("02 06 05 01 02 03 04 05"));
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex, vorlan::kErrorReplyTimeout);
    EXPECT_EQ(state.currentDevice, 0);
}

TEST_F(ExchangeTest, OwnAnswerAfterAForeignFrameIsTaken) {
    std::vector<uint8_t> both = WithCrc("02 06 05 01 02 03 04 05");
    both.insert(both.end(), answer10.begin(), answer10.end());
    port.Answer(0, both);  // one read holds both frames
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);

    port.Answer(0, WithCrc("02 06 05 01 02 03 04 05"));
    port.Answer(200, answer10);  // at the next poll, inside the first deadline
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
}

TEST_F(ExchangeTest, OneOrTwoBytesAtFirstPollWaitForTheRest) {
    port.Answer(0, Hex("01 06"));
    EXPECT_EQ(Exchange(poll1), 0);  // nothing more came: not an answer

    port.Answer(0, std::vector<uint8_t>(answer10.begin(), answer10.begin() + 2));
    port.Answer(200, std::vector<uint8_t>(answer10.begin() + 2, answer10.end()));
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
}

TEST_F(ExchangeTest, SettingRequestWaitsLonger) {
    state.devices[0].conversation.nextCommand = vorlan::Request::SettingRead;
    port.Answer(2100, answer10);  // too late for an ordinary request
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
    EXPECT_EQ(clock.Slept(), 150u + 2000u + 250u);
}

TEST_F(ExchangeTest, SilentRelayWithSettingRequestTimesOutLater) {
    state.devices[0].conversation.nextCommand = vorlan::Request::SettingRead;
    EXPECT_EQ(Exchange(poll1), 0);
    // One poll: 150 + 2000 + 150 idle passes the 350 ms deadline.
    EXPECT_EQ(clock.Slept(), 2300u);
}

TEST_F(ExchangeTest, LongAnnouncementGetsTheLongerWaitBeforeLaterPolls) {
    std::vector<uint8_t> data(243, 0x11);
    const auto frame = MakeFrame(1, 0x06, data);
    ASSERT_EQ(frame.size(), 248u);
    std::vector<uint8_t> head(frame.begin(), frame.begin() + 100);
    std::vector<uint8_t> tail(frame.begin() + 100, frame.end());
    port.Answer(0, head);
    port.Answer(2000, tail);  // would be too late without the longer pause
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, frame);
    EXPECT_EQ(clock.Slept(), 150u + 150u + 2000u + 250u);
}

TEST_F(ExchangeTest, ReadFailureRecordsIndex7) {
    port.failRead = true;
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex, vorlan::kErrorPortRead);
    EXPECT_EQ(monitor.lines.size(), 1u);
}

TEST_F(ExchangeTest, WriteFailureFailsWithoutTraceOrError) {
    port.failWrite = true;
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(errorIndex, -1);
    EXPECT_TRUE(monitor.lines.empty());
}

TEST_F(ExchangeTest, NoPortFailsLikeAFailedWrite) {
    vorlan::PollingRelays relays(state);
    vorlan::ExchangeContext ctx{relays, nullptr, clock, monitor, errorIndex};
    uint8_t frame[8] = {0x01, 0x83, 0x00, 0x30, 0xF0};
    int32_t len = 5;
    EXPECT_EQ(vorlan_test::ExchangeIn(ctx, frame, sizeof frame, len), 0);
}

TEST_F(ExchangeTest, ReadOfExactly512BytesIsDropped) {
    port.Answer(0, std::vector<uint8_t>(512, 0x01));
    port.Answer(200, answer10);
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
}

TEST_F(ExchangeTest, NeverWritesPastTheCallersBuffer) {
    // An answer that announces more than fits keeps arriving over several polls.
    const size_t capacity = 64;
    auto head = Hex("01 06 F0");
    head.insert(head.end(), 40, 0x22);
    port.Answer(0, head);
    port.Answer(200, std::vector<uint8_t>(100, 0x33));
    port.Answer(400, std::vector<uint8_t>(100, 0x44));
    EXPECT_EQ(Exchange(poll1, capacity), 0);
    EXPECT_LE(length, static_cast<int32_t>(capacity));
    EXPECT_TRUE(GuardIntact(capacity));
}

TEST_F(ExchangeTest, RequestLongerThanItsBufferIsRefused) {
    buffer.assign(8, 0);
    buffer[0] = 1;
    int32_t len = 9;
    vorlan::PollingRelays relays(state);
    vorlan::ExchangeContext ctx{relays, &port, clock, monitor, errorIndex};
    EXPECT_EQ(vorlan_test::ExchangeIn(ctx, buffer.data(), buffer.size(), len), 0);
    len = -1;
    EXPECT_EQ(vorlan_test::ExchangeIn(ctx, buffer.data(), buffer.size(), len), 0);
    EXPECT_TRUE(port.written.empty());
}

TEST_F(ExchangeTest, DeadlinesHoldAcrossTheTickWrap) {
    clock.SetTick(0xFFFFFF00u);  // the first deadline wraps past zero
    port.Answer(400, answer10);
    EXPECT_EQ(Exchange(poll1), 1);
    EXPECT_EQ(answer, answer10);
    clock.SetTick(0xFFFFFF00u);
    EXPECT_EQ(Exchange(poll1), 0);
    EXPECT_EQ(clock.Slept(), 600u);
}

TEST_F(ExchangeTest, LookupMakesTheAddressedRelayCurrent) {
    port.Answer(0, WithCrc("02 04 00"));
    EXPECT_EQ(Exchange(Hex("02 83 00 00 00")), 1);
    EXPECT_EQ(state.currentDevice, 1);
    EXPECT_TRUE(monitor.lines.empty());  // relay 2 has its trace off
}

}  // namespace
