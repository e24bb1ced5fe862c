// SPDX-License-Identifier: Apache-2.0
// The sample buffers of a retrieval: allocated by the host's LBStart write,
// released once the files are written, and a failed allocation failing only
// that retrieval. Allocation failure is injected through this program's
// operator new.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "faultrec/recording_frames.h"
#include "faultrec/recording_service.h"
#include "fake_clock.h"
#include "model/recording_limits.h"
#include "support/hex.h"
#include "tags/tag_service.h"
#include "test_packet.h"
#include "frame_calls.h"

// The replacements pair malloc with free; GCC cannot see that once it inlines them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<bool> g_failSampleBuffers{false};
}  // namespace

// Plain malloc and free underneath, as the library's default; the sample
// buffers' size fails while the switch is on.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (g_failSampleBuffers && size == sizeof(vorlan::RecordingSamples)) return nullptr;
    return std::malloc(size != 0 ? size : 1);
}
void* operator new(std::size_t size) {
    if (void* p = operator new(size, std::nothrow)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace faultrec_test {
namespace {

using vorlan::ByteView;
using vorlan::DeviceRecord;
using vorlan::Request;
using vorlan_test::TestPacket;

constexpr uint8_t kAddress = 3;

class RecordingBuffersTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir.Write("通道配置文件.txt", "STATION\n");
        for (uint8_t i = 0; i < 2; ++i) {
            DeviceRecord& r = state->devices[i];
            r.address = static_cast<uint8_t>(kAddress + i);
            r.index = i;
            state->deviceCount += 1;
            // Recording 41 of 12 samples, 42 of 3.
            const auto list = ListAnswer(r.address, {{41, 7, 250000, 1000, 12}, {42, 5, 1234, 1200, 3}});
            vorlan::StoreRecordingList(r, ByteView(list.data(), list.size()), clock);
        }
    }
    void TearDown() override { g_failSampleBuffers = false; }

    DeviceRecord& relay(size_t i = 0) { return state->devices[i]; }
    void Start(int32_t number, int16_t device = 0) {
        TestPacket p(device, VORLAN_REG_LBSTART, 1, {1});
        p.SetLong(0, number);
        vorlan::TagContext ctx{*state, clock, nullptr};
        uint8_t frame[512] = {};
        int32_t length = 0;
        int32_t expected = 0;
        vorlan_test::ServeInto(ctx, &p.packet, frame, sizeof frame, length, expected, 1);
    }
    void Block(uint16_t first, uint16_t last, size_t device = 0) {
        Block(BlockAnswer(relay(device).address, first, last), device);
    }
    void Block(const std::vector<uint8_t>& frame, size_t device = 0) {
        vorlan::StoreRecordingBlock(relay(device), ByteView(frame.data(), frame.size()), dir.path());
    }
    static size_t Lines(const std::string& text) {
        return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    }
    std::string Data(size_t position) const {
        return dir.Read(state->devices[0].recording.lbTime[position] + ".DAT");
    }

    std::unique_ptr<vorlan::PollingState> state = std::make_unique<vorlan::PollingState>();
    vorlan_test::FakeClock clock;
    TempDir dir;
};


TEST_F(RecordingBuffersTest, BuffersLiveFromTheStartUntilTheFilesAreWritten) {
    // Listed but not fetched: no buffers, and a block changes nothing.
    EXPECT_EQ(relay().recording.samples, nullptr);
    Block(0, 2);
    EXPECT_EQ(relay().recording.lbNextSample, 0);
    EXPECT_EQ(relay().conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(relay().recording.samples, nullptr);
    EXPECT_EQ(dir.Names().size(), 1u);

    Start(42);
    ASSERT_NE(relay().recording.samples, nullptr);
    EXPECT_EQ(relay().conversation.nextCommand, Request::RecordingBlock);
    EXPECT_EQ(relay(1).recording.samples, nullptr);  // only the relay asked
    Block(0, 3);
    EXPECT_EQ(relay().recording.lbFilesWritten, 1);
    EXPECT_EQ(relay().recording.samples, nullptr);
    EXPECT_EQ(relay().conversation.nextCommand, Request::GeneralPoll);
    const std::string first = Data(1);
    EXPECT_EQ(Lines(first), 3u);

    // A late block after the files: nothing allocated, stored or rewritten.
    Block(0, 3);
    EXPECT_EQ(relay().recording.samples, nullptr);
    EXPECT_EQ(relay().conversation.nextCommand, Request::GeneralPoll);
    EXPECT_EQ(Data(1), first);

    // A second retrieval allocates again and releases again.
    Start(41);
    ASSERT_NE(relay().recording.samples, nullptr);
    Block(0, 4);
    Block(5, 9);
    EXPECT_NE(relay().recording.samples, nullptr);
    Block(10, 12);
    EXPECT_EQ(relay().recording.samples, nullptr);
    EXPECT_EQ(Lines(Data(0)), 12u);
}

TEST_F(RecordingBuffersTest, RestartMidwayBeginsWithClearedSamples) {
    Start(41);
    Block(0, 4);
    Start(42);
    ASSERT_NE(relay().recording.samples, nullptr);
    EXPECT_EQ(relay().recording.lbNextSample, 0);
    EXPECT_EQ(relay().recording.samples->lbSampleTime[1], 0u);

    // Recording 42 arrives without its sample 1: that line holds zeros, not
    // recording 41's sample 1.
    std::vector<uint8_t> payload;
    for (uint16_t n : {0, 2, 3}) {
        const auto bytes = SampleBytes(PatternSample(n));
        payload.insert(payload.end(), bytes.begin(), bytes.end());
    }
    Block(vorlan_test::MakeFrame(kAddress, 0xCB, payload));
    ASSERT_EQ(relay().recording.lbFilesWritten, 1);
    const std::string data = Data(1);
    const size_t second = data.find("\r\n") + 2;
    EXPECT_EQ(data.substr(second, data.find("\r\n", second) - second),
              "2,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0");
}

TEST_F(RecordingBuffersTest, FailedAllocationFailsOnlyThatRetrieval) {
    Start(41, 1);
    ASSERT_NE(relay(1).recording.samples, nullptr);

    g_failSampleBuffers = true;
    Start(42);
    EXPECT_EQ(relay().recording.samples, nullptr);
    EXPECT_EQ(relay().recording.lbIndex, -1);
    EXPECT_FALSE(vorlan::RecordingHasMoreSamples(relay()));
    EXPECT_EQ(relay().conversation.nextCommand, Request::GeneralPoll);
    Block(0, 3);
    EXPECT_EQ(relay().recording.lbNextSample, 0);
    EXPECT_EQ(relay().recording.lbFilesWritten, 0);

    // The other relay's retrieval goes on to its files.
    Block(0, 4, 1);
    Block(5, 9, 1);
    Block(10, 12, 1);
    EXPECT_EQ(relay(1).recording.lbFilesWritten, 1);

    // With memory again, the next start works.
    g_failSampleBuffers = false;
    Start(42);
    ASSERT_NE(relay().recording.samples, nullptr);
    Block(0, 3);
    EXPECT_EQ(relay().recording.lbFilesWritten, 1);
}

}  // namespace
}  // namespace faultrec_test
