// SPDX-License-Identifier: Apache-2.0
// Block answers (0xCB): storing samples, continuing and completing a retrieval.

#include <gtest/gtest.h>

#include "faultrec/recording_service.h"
#include "model/recording_limits.h"
#include "support/hex.h"
#include "faultrec/recording_frames.h"

namespace faultrec_test {
namespace {

using vorlan::ByteView;
using vorlan::DeviceRecord;

constexpr uint8_t kAddress = 3;

class RecordingRetrievalTest : public ::testing::Test {
protected:
    RecordingRetrievalTest() {
        relay.address = kAddress;
        dir.Write("通道配置文件.txt", "STATION\n");
    }

    // A listed recording `number` of `count` samples at list position 1,
    // selected as LBStart does it.
    void Select(int32_t number, uint16_t count) {
        relay.recording.lbCount = 2;
        relay.recording.lbId[0] = number + 1;
        relay.recording.lbId[1] = number;
        relay.recording.lbSampleCount[1] = count;
        relay.recording.lbTime[1] = "200312252359 5";
        relay.recording.lbRequestId = number;
        relay.recording.lbIndex = vorlan::FindRecording(relay, number);
        relay.recording.lbNextSample = 0;
        relay.conversation.nextCommand = vorlan::Request::RecordingBlock;
        ASSERT_TRUE(vorlan::PrepareRecordingSamples(relay));
    }
    // The stored sample fields, read through the retrieval's buffers.
    const vorlan::RecordingSamples& Samples() const { return *relay.recording.samples; }
    void Block(const std::vector<uint8_t>& frame) {
        vorlan::StoreRecordingBlock(relay, ByteView(frame.data(), frame.size()), dir.path());
    }
    void Block(uint16_t first, uint16_t last) { Block(BlockAnswer(kAddress, first, last)); }
    bool FilesWritten() const {
        return dir.Exists("200312252359 5.CFG") && dir.Exists("200312252359 5.DAT");
    }

    DeviceRecord relay;
    TempDir dir;
};

TEST_F(RecordingRetrievalTest, StoresEverySampleFieldUnderItsNumber) {
    Select(9, 12);
    Sample s = PatternSample(4);
    s.analog[15] = -32768;
    s.digital[0] = 0xA5;
    s.digital[1] = 0x5A;
    auto payload = SampleBytes(s);
    Block(vorlan_test::MakeFrame(kAddress, 0xCB, payload));

    EXPECT_EQ(Samples().lbSampleTime[4], 4000u);
    EXPECT_EQ(Samples().lbAnalog[0][4], 4);
    EXPECT_EQ(Samples().lbAnalog[1][4], -104);
    EXPECT_EQ(Samples().lbAnalog[15][4], -32768);
    // Bytes 38 and 39 of the sample, one byte each; nothing from beyond it.
    EXPECT_EQ(Samples().lbDigital[0][4], 0xA5);
    EXPECT_EQ(Samples().lbDigital[1][4], 0x5A);
    EXPECT_EQ(relay.recording.lbNextSample, 5);
}

TEST_F(RecordingRetrievalTest, CountTwelveCompletesAfterSampleTwelve) {
    Select(9, 12);
    Block(0, 4);
    EXPECT_EQ(relay.recording.lbNextSample, 5);
    EXPECT_TRUE(vorlan::RecordingHasMoreSamples(relay));
    Block(5, 9);
    EXPECT_FALSE(FilesWritten());
    Block(10, 12);
    EXPECT_EQ(relay.recording.lbNextSample, 13);
    EXPECT_FALSE(vorlan::RecordingHasMoreSamples(relay));
    EXPECT_TRUE(FilesWritten());
    EXPECT_EQ(relay.recording.lbFilesWritten, 1);
    // The relay goes back to ordinary polling once the recording is complete.
    EXPECT_EQ(relay.conversation.nextCommand, vorlan::Request::GeneralPoll);
}

TEST_F(RecordingRetrievalTest, BlockArrivingAfterCompletionChangesNothing) {
    Select(9, 3);
    Block(0, 3);
    ASSERT_TRUE(FilesWritten());
    ASSERT_EQ(relay.conversation.nextCommand, vorlan::Request::GeneralPoll);
    dir.Write("200312252359 5.CFG", "as written");
    dir.Write("200312252359 5.DAT", "as written");

    // A late repeat of the last block while a setting read is pending: no
    // rewrite of the files, and the pending request stays.
    relay.conversation.nextCommand = vorlan::Request::SettingRead;
    Sample changed = PatternSample(3);
    changed.time = 77;
    Block(vorlan_test::MakeFrame(kAddress, 0xCB, SampleBytes(changed)));
    EXPECT_EQ(relay.conversation.nextCommand, vorlan::Request::SettingRead);
    EXPECT_EQ(relay.recording.samples, nullptr);
    EXPECT_EQ(relay.recording.lbNextSample, 4);
    EXPECT_EQ(dir.Read("200312252359 5.CFG"), "as written");
    EXPECT_EQ(dir.Read("200312252359 5.DAT"), "as written");

    // An early block arriving late doesn't restart the retrieval either.
    relay.conversation.nextCommand = vorlan::Request::ControlSelect;
    Block(0, 1);
    EXPECT_EQ(relay.conversation.nextCommand, vorlan::Request::ControlSelect);
    EXPECT_EQ(relay.recording.lbNextSample, 4);
    EXPECT_FALSE(vorlan::RecordingHasMoreSamples(relay));
    EXPECT_EQ(dir.Read("200312252359 5.DAT"), "as written");
}

TEST_F(RecordingRetrievalTest, ShortLastBlockAsksAgainFromTheNextSample) {
    Select(9, 12);
    Block(0, 4);
    Block(5, 9);
    relay.conversation.nextCommand = vorlan::Request::GeneralPoll;
    Block(10, 11);
    EXPECT_EQ(relay.recording.lbNextSample, 12);
    EXPECT_TRUE(vorlan::RecordingHasMoreSamples(relay));
    EXPECT_EQ(relay.conversation.nextCommand, vorlan::Request::RecordingBlock);
    EXPECT_FALSE(FilesWritten());
    Block(12, 12);
    EXPECT_TRUE(FilesWritten());
}

TEST_F(RecordingRetrievalTest, SecondRetrievalStartsAgainFromSampleZero) {
    Select(9, 3);
    Block(0, 3);
    ASSERT_EQ(relay.recording.lbFilesWritten, 1);
    ASSERT_FALSE(vorlan::RecordingHasMoreSamples(relay));

    // LBStart with the other listed number (position 0, ten samples).
    relay.recording.lbSampleCount[0] = 10;
    relay.recording.lbTime[0] = relay.recording.lbTime[1];
    relay.recording.lbRequestId = 10;
    relay.recording.lbIndex = vorlan::FindRecording(relay, 10);
    relay.recording.lbNextSample = 0;
    ASSERT_TRUE(vorlan::PrepareRecordingSamples(relay));
    EXPECT_EQ(relay.recording.lbIndex, 0);
    EXPECT_TRUE(vorlan::RecordingHasMoreSamples(relay));
    Block(0, 4);
    EXPECT_EQ(relay.recording.lbNextSample, 5);
    EXPECT_EQ(relay.conversation.nextCommand, vorlan::Request::RecordingBlock);
    Block(5, 9);
    EXPECT_TRUE(vorlan::RecordingHasMoreSamples(relay));
    Block(10, 10);
    EXPECT_FALSE(vorlan::RecordingHasMoreSamples(relay));
    // The shared file name now holds the second recording.
    EXPECT_NE(dir.Read("200312252359 5.CFG").find("\r\n0,10\r\n"), std::string::npos);
}

TEST_F(RecordingRetrievalTest, TakesAtMostFiveSamplesAndTestsCompletenessOnAnEmptyBlock) {
    Select(9, 12);
    Block(0, 5);  // N = 240: six samples sent
    EXPECT_EQ(relay.recording.lbNextSample, 5);
    EXPECT_EQ(Samples().lbSampleTime[5], 0u);

    // N = 39 carries no whole sample, yet the completeness test runs.
    relay.conversation.nextCommand = vorlan::Request::GeneralPoll;
    Block(vorlan_test::MakeFrame(kAddress, 0xCB, std::vector<uint8_t>(39, 0x22)));
    EXPECT_EQ(relay.conversation.nextCommand, vorlan::Request::RecordingBlock);
    EXPECT_EQ(relay.recording.lbNextSample, 5);

    // Past the last sample the retrieval is over: an empty block completes nothing.
    relay.recording.lbNextSample = 13;
    Block(vorlan_test::MakeFrame(kAddress, 0xCB, std::vector<uint8_t>(39, 0x22)));
    EXPECT_FALSE(FilesWritten());
    EXPECT_EQ(relay.conversation.nextCommand, vorlan::Request::RecordingBlock);
}

TEST_F(RecordingRetrievalTest, ForeignOrTruncatedBlocksStoreOnlyWholeSamplesOfThisRelay) {
    Select(9, 12);
    Block(BlockAnswer(kAddress + 1, 0, 4));
    EXPECT_EQ(relay.recording.lbNextSample, 0);
    EXPECT_EQ(Samples().lbSampleTime[1], 0u);

    std::vector<uint8_t> frame = BlockAnswer(kAddress, 0, 2);
    frame.resize(3 + 40 + 20);  // the length byte still claims three samples
    Block(frame);
    EXPECT_EQ(relay.recording.lbNextSample, 1);
    EXPECT_EQ(Samples().lbSampleTime[1], 0u);
}

TEST_F(RecordingRetrievalTest, SamplesAbove239AreSkipped) {
    Select(9, 12);
    Sample high = PatternSample(0);
    high.number = 240;
    Block(vorlan_test::MakeFrame(kAddress, 0xCB, SampleBytes(high)));
    EXPECT_EQ(relay.recording.lbNextSample, 0);
    EXPECT_EQ(Samples().lbSampleTime[0], 0u);
}

TEST_F(RecordingRetrievalTest, UnlistedNumberStartsNothing) {
    Select(9, 12);
    relay.recording.lbRequestId = 77;
    relay.recording.lbIndex = vorlan::FindRecording(relay, 77);
    EXPECT_EQ(relay.recording.lbIndex, -1);
    EXPECT_FALSE(vorlan::RecordingHasMoreSamples(relay));

    // A block arriving now is not stored and neither continues nor completes anything.
    relay.conversation.nextCommand = vorlan::Request::GeneralPoll;
    Block(0, 4);
    EXPECT_EQ(relay.recording.lbNextSample, 0);
    EXPECT_EQ(Samples().lbSampleTime[1], 0u);
    EXPECT_EQ(relay.conversation.nextCommand, vorlan::Request::GeneralPoll);
    EXPECT_EQ(relay.recording.lbFilesWritten, 0);
    EXPECT_TRUE(dir.Names() == std::vector<std::string>{"通道配置文件.txt"});
}

TEST_F(RecordingRetrievalTest, RecordingAnnouncingMoreThan240SamplesEndsAt239) {
    Select(9, 1000);
    for (uint16_t first = 0; first < 240; first += 5) {
        ASSERT_TRUE(vorlan::RecordingHasMoreSamples(relay)) << first;
        ASSERT_FALSE(FilesWritten());
        Block(first, static_cast<uint16_t>(first + 4));
    }
    EXPECT_EQ(relay.recording.lbNextSample, 240);
    EXPECT_FALSE(vorlan::RecordingHasMoreSamples(relay));
    EXPECT_TRUE(FilesWritten());

    // Both files hold 240 samples: line 23 and the data lines agree.
    const std::string cfg = dir.Read("200312252359 5.CFG");
    EXPECT_NE(cfg.find("\r\n0,240\r\n"), std::string::npos);
    const std::string dat = dir.Read("200312252359 5.DAT");
    size_t lines = 0;
    for (size_t at = dat.find("\r\n"); at != std::string::npos; at = dat.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(lines, 240u);
    EXPECT_EQ(dat.rfind("240,239000,", dat.size()), dat.rfind("\r\n", dat.size() - 3) + 2);
}

TEST_F(RecordingRetrievalTest, RecordingOf240EndsWithItsLastStorableSample) {
    Select(9, 240);
    relay.recording.lbNextSample = 235;
    Block(235, 239);
    EXPECT_FALSE(vorlan::RecordingHasMoreSamples(relay));
    EXPECT_TRUE(FilesWritten());
}

}  // namespace
}  // namespace faultrec_test
