// SPDX-License-Identifier: Apache-2.0
// The list answer (0xC9) and its time texts.

#include <gtest/gtest.h>

#include "support/fake_clock.h"
#include "faultrec/recording_service.h"
#include "support/hex.h"
#include "faultrec/recording_frames.h"

namespace faultrec_test {
namespace {

using vorlan::ByteView;
using vorlan::DeviceRecord;

constexpr uint8_t kAddress = 7;

ByteView View(const std::vector<uint8_t>& frame) { return ByteView(frame.data(), frame.size()); }

class RecordingListTest : public ::testing::Test {
protected:
    RecordingListTest() {
        relay.address = kAddress;
        // 2003-12-25 23:59:05, the moment the list arrives.
        clock.SetLocal(vorlan::SystemTime{2003, 12, 4, 25, 23, 59, 5, 0});
    }
    void Store(const std::vector<uint8_t>& frame) {
        vorlan::StoreRecordingList(relay, View(frame), clock);
    }

    DeviceRecord relay;
    vorlan_test::FakeClock clock;
};

TEST_F(RecordingListTest, KeepsAtMostFourEntriesAndFindsThemByNumber) {
    std::vector<ListEntry> entries;
    for (uint32_t i = 0; i < 5; ++i) entries.push_back({101 + i, i, 10 * i, 1000 + i, static_cast<uint16_t>(12 + i)});
    Store(ListAnswer(kAddress, entries));  // N = 100

    EXPECT_EQ(relay.recording.lbCount, 4);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(relay.recording.lbId[i], static_cast<int32_t>(101 + i));
        EXPECT_EQ(relay.recording.lbSecond[i], i);
        EXPECT_EQ(relay.recording.lbFraction[i], 10 * i);
        EXPECT_EQ(relay.recording.lbSampleRate[i], 1000 + i);
        EXPECT_EQ(relay.recording.lbSampleCount[i], 12 + i);
        EXPECT_EQ(relay.recording.lbTime[i], "200312252359 5");
    }
    EXPECT_EQ(vorlan::FindRecording(relay, 103), 2);
    EXPECT_EQ(vorlan::FindRecording(relay, 105), -1);
}

TEST_F(RecordingListTest, ShortOrForeignAnswersListNothing) {
    Store(ListAnswer(kAddress, {{5, 0, 0, 0, 3}}));
    ASSERT_EQ(relay.recording.lbCount, 1);

    // N = 19: less than one entry.
    std::vector<uint8_t> payload(19, 0x11);
    Store(vorlan_test::MakeFrame(kAddress, 0xC9, payload));
    EXPECT_EQ(relay.recording.lbCount, 0);

    // Another relay's answer and an empty payload change nothing.
    Store(ListAnswer(kAddress + 1, {{9, 0, 0, 0, 3}}));
    Store(vorlan_test::MakeFrame(kAddress, 0xC9, {}));
    EXPECT_EQ(relay.recording.lbCount, 0);
    EXPECT_EQ(relay.recording.lbId[0], 5);
}

TEST_F(RecordingListTest, LengthByteBeyondTheFrameTakesOnlyWholeEntries) {
    std::vector<uint8_t> frame = ListAnswer(kAddress, {{21, 0, 0, 0, 1}, {22, 0, 0, 0, 1}});
    frame[2] = 80;               // claims four entries
    frame.resize(3 + 20 + 10);   // holds one and a half
    Store(frame);
    EXPECT_EQ(relay.recording.lbCount, 1);
    EXPECT_EQ(relay.recording.lbId[0], 21);
    EXPECT_EQ(relay.recording.lbId[1], 0);
}

TEST_F(RecordingListTest, TimeTextsUseTheLocalClockAndTheRelaysSecondsAndFraction) {
    Store(ListAnswer(kAddress, {{1, 5, 1234, 0, 3}}));
    EXPECT_EQ(relay.recording.lbTime[0], "200312252359 5");
    EXPECT_EQ(relay.recording.lbStartTimeText[0], "12/25/2003,23:59:05.001234");
    EXPECT_EQ(relay.recording.lbTriggerTimeText[0], relay.recording.lbStartTimeText[0]);

    // Single-digit fields: blanks in the list text, zeros in the file texts.
    clock.SetLocal(vorlan::SystemTime{2003, 5, 3, 7, 9, 2, 30, 0});
    Store(ListAnswer(kAddress, {{1, 45, 123456, 0, 3}}));
    EXPECT_EQ(relay.recording.lbTime[0], "2003 5 7 9 230");
    EXPECT_EQ(relay.recording.lbStartTimeText[0], "05/07/2003,09:02:45.123456");
}

}  // namespace
}  // namespace faultrec_test
