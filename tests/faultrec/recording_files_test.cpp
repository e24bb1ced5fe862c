// SPDX-License-Identifier: Apache-2.0
// The configuration and data files of a complete recording, and what happens
// when they can't be written.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "faultrec/channel_table.h"
#include "faultrec/recording_files.h"
#include "faultrec/recording_frames.h"
#include "faultrec/recording_service.h"
#include "support/fake_clock.h"

namespace faultrec_test {
namespace {

using vorlan::DeviceRecord;

const std::string kBase = "200312252359 5";
const std::string kChannelFile = "通道配置文件.txt";

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// A recording of three samples at list position 2, relay address 7.
DeviceRecord SmallRecording() {
    DeviceRecord r;
    r.address = 7;
    r.recording.lbCount = 3;
    r.recording.lbIndex = 2;
    r.recording.lbRequestId = 31;
    r.recording.lbId[2] = 31;
    r.recording.lbTime[2] = kBase;
    r.recording.lbSampleRate[2] = 1200;
    r.recording.lbSampleCount[2] = 3;
    r.recording.lbStartTimeText[2] = "12/25/2003,23:59:05.001234";
    r.recording.lbTriggerTimeText[2] = r.recording.lbStartTimeText[2];
    r.recording.samples = std::make_unique<vorlan::RecordingSamples>();
    vorlan::RecordingSamples& s = *r.recording.samples;
    s.lbAnalog[0][0] = -5;
    s.lbDigital[0][0] = 255;
    s.lbSampleTime[1] = 1000;
    s.lbAnalog[15][1] = 32767;
    s.lbDigital[1][1] = 1;
    s.lbSampleTime[2] = 0xFFFFFFFFu;  // written as a signed number
    s.lbAnalog[7][2] = -32768;
    s.lbAnalog[0][3] = 99;  // beyond the count: not written
    return r;
}

const std::string kSmallData =
    "1,0,-5,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,255,0\r\n"
    "2,1000,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,32767,0,1\r\n"
    "3,-1,0,0,0,0,0,0,0,-32768,0,0,0,0,0,0,0,0,0,0\r\n";

std::string TailLines() {
    return "50\r\n1\r\n1200,3\r\n12/25/2003,23:59:05.001234\r\n12/25/2003,23:59:05.001234\r\nASCII\r\n";
}

TEST(RecordingFiles, StationOnlyChannelFileGivesNeutralChannelRows) {
    TempDir dir;
    dir.Write(kChannelFile, "ABC\n");
    DeviceRecord r = SmallRecording();
    vorlan::WriteRecordingFiles(r, dir.path());

    std::string analogRows;
    for (int a = 1; a <= 16; ++a) analogRows += std::to_string(a) + ",,,,,1,0,0,-32768,32767\r\n";
    EXPECT_EQ(dir.Read(kBase + ".CFG"),
              "ABC,7\r\n18,16A,2D\r\n" + analogRows + "1,,0\r\n2,,0\r\n" + TailLines());
    EXPECT_EQ(dir.Read(kBase + ".DAT"), kSmallData);
    EXPECT_EQ(r.recording.lbFilesWritten, 1);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{kBase + ".CFG", kBase + ".DAT", kChannelFile}));
}

TEST(RecordingFiles, ChannelTokensGoToTheirRowsWhateverTheLineBreaks) {
    // Row per line, GBK station name (变电站).
    std::string rows = "\xB1\xE4\xB5\xE7\xD5\xBE\n";
    std::string expectedRows;
    for (int a = 1; a <= 16; ++a) {
        std::string line;
        for (int t = 0; t < 10; ++t) line += (t ? " " : "") + std::to_string(a) + "_" + std::to_string(t);
        rows += line + "\n";
        for (char& c : line) c = c == ' ' ? ',' : c;
        expectedRows += line + "\r\n";
    }
    rows += "17 D1 0\n18 D2 1\n";
    expectedRows += "17,D1,0\r\n18,D2,1\r\n";
    const std::string expected = "\xB1\xE4\xB5\xE7\xD5\xBE,7\r\n18,16A,2D\r\n" + expectedRows + TailLines();

    TempDir byRow;
    byRow.Write(kChannelFile, rows);
    DeviceRecord r = SmallRecording();
    vorlan::WriteRecordingFiles(r, byRow.path());
    EXPECT_EQ(byRow.Read(kBase + ".CFG"), expected);

    std::string scattered;
    int n = 0;
    for (char c : rows) {
        if (c == '\n') c = (++n % 3 == 0) ? '\n' : (n % 3 == 1 ? '\t' : ' ');
        scattered += c;
        if (c == ' ') scattered += "\r\n  ";
    }
    TempDir spread;
    spread.Write(kChannelFile, "\r\n\r\n" + scattered + "\nEXTRA TOKENS\n");
    DeviceRecord r2 = SmallRecording();
    vorlan::WriteRecordingFiles(r2, spread.path());
    EXPECT_EQ(spread.Read(kBase + ".CFG"), expected);
}

TEST(RecordingFiles, LongTokensAreCutAt64BytesOnACharacterBoundary) {
    const std::string gbk = "\xD5\xBE";  // one two-byte character
    EXPECT_EQ(vorlan::GbkPrefixLength(std::string(64, 'x') + "yz", 64), 64u);
    EXPECT_EQ(vorlan::GbkPrefixLength(std::string(63, 'x') + gbk, 64), 63u);
    EXPECT_EQ(vorlan::GbkPrefixLength(std::string(62, 'x') + gbk + "z", 64), 64u);
    EXPECT_EQ(vorlan::GbkPrefixLength(Repeat(gbk, 40), 64), 64u);
    EXPECT_EQ(vorlan::GbkPrefixLength("x" + Repeat(gbk, 40), 64), 63u);

    const std::string text = std::string(63, 'S') + gbk + " " + std::string(70, 'A') + " next";
    vorlan::ChannelTable table;
    vorlan::ParseChannelTable(vorlan::ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                              table);
    EXPECT_EQ(table.station, std::string(63, 'S'));
    EXPECT_EQ(table.analog[0][0], std::string(64, 'A'));
    EXPECT_EQ(table.analog[0][1], "next");
    EXPECT_EQ(table.analog[0][2], "");
    EXPECT_EQ(table.digital[1][2], "");
}

TEST(RecordingFiles, NothingIsWrittenWithoutChannelFileOrDirectory) {
    TempDir dir;
    DeviceRecord r = SmallRecording();
    vorlan::WriteRecordingFiles(r, dir.path());
    EXPECT_TRUE(dir.Names().empty());
    EXPECT_EQ(r.recording.lbFilesWritten, 0);

    // A channel "file" that can't be read.
    ASSERT_EQ(::mkdir((dir.path() + kChannelFile).c_str(), 0755), 0);
    vorlan::WriteRecordingFiles(r, dir.path());
    EXPECT_EQ(dir.Names(), std::vector<std::string>{kChannelFile});
    EXPECT_EQ(r.recording.lbFilesWritten, 0);

    vorlan::WriteRecordingFiles(r, dir.path() + "missing/");
    EXPECT_EQ(r.recording.lbFilesWritten, 0);
}

TEST(RecordingFiles, DataFileFailureLeavesTheEarlierPairAsItWas) {
    TempDir dir;
    dir.Write(kChannelFile, "ABC");
    dir.Write(kBase + ".CFG", "earlier configuration");
    ASSERT_EQ(::mkdir((dir.path() + kBase + ".DAT").c_str(), 0755), 0);

    DeviceRecord r = SmallRecording();
    vorlan::WriteRecordingFiles(r, dir.path());
    EXPECT_EQ(r.recording.lbFilesWritten, 0);
    EXPECT_EQ(dir.Read(kBase + ".CFG"), "earlier configuration");
    // No temporary file is left behind.
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{kBase + ".CFG", kBase + ".DAT", kChannelFile}));
}

TEST(RecordingFiles, FailedConfigurationRenameKeepsTheEarlierPairWhole) {
    TempDir dir;
    dir.Write(kChannelFile, "ABC");
    dir.Write(kBase + ".DAT", "earlier data");
    // The configuration file can't replace a directory of its name.
    ASSERT_EQ(::mkdir((dir.path() + kBase + ".CFG").c_str(), 0755), 0);
    dir.Write(kBase + ".CFG/inside", "x");

    DeviceRecord r = SmallRecording();
    vorlan::WriteRecordingFiles(r, dir.path());
    EXPECT_EQ(r.recording.lbFilesWritten, 0);
    EXPECT_EQ(dir.Read(kBase + ".DAT"), "earlier data");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{kBase + ".CFG", kBase + ".DAT", kChannelFile}));
}

TEST(RecordingFiles, WritingRemovesOnlyTemporaryFilesLeftByACrash) {
    TempDir dir;
    dir.Write(kChannelFile, "ABC");
    const std::string own = std::to_string(::getpid());
    const std::string gone = "99999999";  // beyond any process id
    // Left by a crashed writer: ours (an earlier process with our id) and a gone one.
    const std::vector<std::string> leftovers = {
        "." + kBase + ".CFG.tmp-" + own + "-3", "." + kBase + ".DAT.tmp-" + gone + "-0",
        ".2026 112 1 5 7.DAT.tmp-" + gone + "-12"};
    // Not ours, or a writer that is still alive (process 1): kept.
    const std::vector<std::string> kept = {
        ".hidden", "." + kBase + ".DAT.tmp-1-0", ".notes.CFG.tmp-" + gone + "-0",
        kBase + ".CFG.tmp-" + gone + "-0", "." + kBase + ".CFG.tmp-" + gone + "-0x",
        "." + kBase + ".CFG.tmp-" + gone + "-", "." + kBase + ".TXT.tmp-" + gone + "-0",
        "." + kBase + ".CFG.tmp--1-0"};
    for (const auto& name : leftovers) dir.Write(name, "partial");
    for (const auto& name : kept) dir.Write(name, "keep");

    DeviceRecord r = SmallRecording();
    vorlan::WriteRecordingFiles(r, dir.path());
    EXPECT_EQ(r.recording.lbFilesWritten, 1);
    std::vector<std::string> expected = kept;
    expected.insert(expected.end(), {kBase + ".CFG", kBase + ".DAT", kChannelFile});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.Names(), expected);
    EXPECT_EQ(dir.Read(kBase + ".DAT"), kSmallData);
}

bool HavePython() { return std::system("python3 -c 'import sys' >/dev/null 2>&1") == 0; }

// Runs the independent reader on the pair `base` in `dir`; its summary line,
// or its complaint after a failure mark.
std::string ReadWithIndependentReader(const TempDir& dir, const std::string& base) {
    const std::string command = std::string("PYTHONIOENCODING=utf-8 python3 '") + VORLAN_SOURCE_DIR +
                                "/tests/faultrec/comtrade_check.py' '" + dir.path() + base + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return "FAILED: popen";
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    if (::pclose(pipe) != 0) out = "FAILED: " + out;
    return out;
}

TEST(RecordingFiles, IndependentReaderLoadsThePair) {
    if (!HavePython()) GTEST_SKIP() << "no python3";
    TempDir dir;
    dir.Write(kChannelFile, "\xB1\xE4\xB5\xE7\xD5\xBE " + Repeat("1 IA A line-1 A 0.01 0 0 -32768 32767\n", 16) +
                                "17 D1 0 18 D2 1\n");
    DeviceRecord r = SmallRecording();
    // Single-digit day and minute: where blank padding lost the date.
    r.recording.lbStartTimeText[2] = "05/07/2003,09:02:45.123456";
    r.recording.lbTriggerTimeText[2] = r.recording.lbStartTimeText[2];
    vorlan::WriteRecordingFiles(r, dir.path());
    ASSERT_EQ(r.recording.lbFilesWritten, 1);

    EXPECT_EQ(ReadWithIndependentReader(dir, kBase),
              "station=变电站 analog=16 digital=2 samples=3 start=2003-05-07T09:02:45.123456\n");
}

TEST(RecordingFiles, OutOfRangeTimeCommasAndMissingFieldsStillGiveAReadablePair) {
    TempDir dir;
    // A station name and a first row that hold commas; everything else missing.
    dir.Write(kChannelFile, "Nord,Hof 1 I,A");
    DeviceRecord r = SmallRecording();
    vorlan_test::FakeClock clock;
    clock.SetLocal(vorlan::SystemTime{2003, 12, 4, 25, 23, 59, 5, 0});
    const auto list = ListAnswer(7, {{40, 0, 0, 1200, 3}, {41, 0, 0, 1200, 3}, {31, 75, 1234567, 1200, 3}});
    vorlan::StoreRecordingList(r, vorlan::ByteView(list.data(), list.size()), clock);
    ASSERT_EQ(r.recording.lbIndex, 2);
    vorlan::WriteRecordingFiles(r, dir.path());
    ASSERT_EQ(r.recording.lbFilesWritten, 1);

    // The relay's own fields and the list text keep what it sent.
    EXPECT_EQ(r.recording.lbSecond[2], 75u);
    EXPECT_EQ(r.recording.lbFraction[2], 1234567u);
    EXPECT_EQ(r.recording.lbTime[2], kBase);
    std::string analogRows;
    for (int a = 1; a <= 16; ++a) {
        analogRows += std::to_string(a) + (a == 1 ? ",I A" : ",") + ",,,,1,0,0,-32768,32767\r\n";
    }
    EXPECT_EQ(dir.Read(kBase + ".CFG"),
              "Nord Hof,7\r\n18,16A,2D\r\n" + analogRows + "1,,0\r\n2,,0\r\n50\r\n1\r\n1200,3\r\n"
              "12/25/2003,23:59:59.999999\r\n12/25/2003,23:59:59.999999\r\nASCII\r\n");

    if (!HavePython()) GTEST_SKIP() << "no python3";
    EXPECT_EQ(ReadWithIndependentReader(dir, kBase),
              "station=Nord Hof analog=16 digital=2 samples=3 start=2003-12-25T23:59:59.999999\n");
}

}  // namespace
}  // namespace faultrec_test
