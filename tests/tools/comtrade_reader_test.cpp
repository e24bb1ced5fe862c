// SPDX-License-Identifier: Apache-2.0
// The COMTRADE reader on files the test generator writes: every revision and
// data format, missing values, several rates, timestamps, the .CFF, text
// encodings, and damaged files refused with where and what.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "comtrade_writer.h"
#include "date_time.h"
#include "reader.h"
#include "tool_process.h"

using namespace comtrade_test;

namespace {

RecordingIn Sample(int revision, const std::string& format, size_t n = 12) {
    RecordingIn in;
    in.revision = revision;
    in.format = format;
    in.rates = {{1000, static_cast<long>(n)}};
    AnalogIn ia{"Ia", "A", "A", 0.01, 0.5, Wave(n, 3000, {2, 7})};
    AnalogIn ub{"Ub", "B", "kV", 0.0006, 0, Wave(n, -20000, {0})};
    in.analog = {ia, ub};
    if (format == "FLOAT32") {
        for (auto& c : in.analog) {
            for (double& x : c.raw) {
                if (!std::isnan(x)) x += 0.25;  // fractions a float holds exactly
            }
        }
    }
    // 17 status channels: the 17th lives in the second status word.
    for (int s = 0; s < 17; ++s) {
        StatusIn st{"S" + std::to_string(s + 1), {}};
        for (size_t i = 0; i < n; ++i) st.values.push_back(static_cast<int32_t>((i + static_cast<size_t>(s)) % 3 == 0));
        in.status.push_back(st);
    }
    return in;
}

std::string Read(const RecordingIn& in, comtrade::Recording& out, const std::string& encoding = "") {
    comtrade::ReadOptions options;
    options.encoding = encoding;
    return comtrade::ReadPair("t.CFG", ConfigText(in), "t.DAT", DataBytes(in), options, out);
}

std::string ReplaceLine(const std::string& cfg, size_t line, const std::string& text) {
    size_t begin = 0;
    for (size_t k = 1; k < line; ++k) begin = cfg.find('\n', begin) + 1;
    return cfg.substr(0, begin) + text + cfg.substr(cfg.find('\r', begin));
}

void ExpectSameValues(const RecordingIn& in, const comtrade::Recording& r) {
    ASSERT_EQ(r.SampleCount(), in.Samples());
    ASSERT_EQ(r.values.size(), in.analog.size());
    for (size_t j = 0; j < in.analog.size(); ++j) {
        for (size_t i = 0; i < in.Samples(); ++i) {
            const double want = in.Scaled(j, i);
            if (std::isnan(want)) EXPECT_TRUE(std::isnan(r.values[j][i])) << "channel " << j << " sample " << i;
            else EXPECT_EQ(r.values[j][i], want) << "channel " << j << " sample " << i;
        }
    }
    ASSERT_EQ(r.states.size(), in.status.size());
    for (size_t j = 0; j < in.status.size(); ++j) EXPECT_EQ(r.states[j], in.status[j].values) << "status " << j;
}

}  // namespace

TEST(ComtradeReader, EveryRevisionAndFormatReadsBackWhatWasWritten) {
    const std::pair<int, const char*> cases[] = {{1991, "ASCII"},    {1991, "BINARY"},  {1999, "ASCII"},
                                                 {1999, "BINARY"},   {2013, "ASCII"},   {2013, "BINARY"},
                                                 {2013, "BINARY32"}, {2013, "FLOAT32"}};
    for (const auto& [revision, format] : cases) {
        SCOPED_TRACE(std::to_string(revision) + " " + format);
        const RecordingIn in = Sample(revision, format);
        comtrade::Recording r;
        ASSERT_EQ(Read(in, r), "");
        EXPECT_EQ(r.revision, revision);
        EXPECT_EQ(comtrade::FormatName(r.format), std::string(format));
        EXPECT_EQ(r.analog.size(), 2u);
        EXPECT_EQ(r.analog[1].unit, "kV");
        EXPECT_EQ(r.status[16].name, "S17");
        ExpectSameValues(in, r);
        EXPECT_DOUBLE_EQ(r.seconds[5], 0.005);
        // 1991 dates are month first, later ones day first: both mean 5 March here.
        EXPECT_EQ(comtrade::IsoText(r.startNs), revision == 1991 ? "2024-05-03T13:04:05.000000"
                                                                 : "2024-03-05T13:04:05.000000");
        EXPECT_NEAR(r.TriggerSeconds(), 0.002, 1e-12);
        if (revision == 2013) {
            EXPECT_EQ(r.timeCode, "+1h");
            EXPECT_EQ(r.localCode, "+1h");
        }
    }
}

TEST(ComtradeReader, TimesComeFromEveryRateSegmentOrFromTimestampsTimesTimemult) {
    RecordingIn in = Sample(1999, "BINARY", 10);
    in.rates = {{1000, 4}, {500, 8}, {250, 10}};
    comtrade::Recording r;
    ASSERT_EQ(Read(in, r), "");
    const double want[] = {0, 1, 2, 3, 4, 6, 8, 10, 12, 16};  // ms; each sample lasts its segment's period
    for (size_t i = 0; i < 10; ++i) EXPECT_NEAR(r.seconds[i] * 1000, want[i], 1e-9) << i;
    ASSERT_EQ(r.rates.size(), 3u);
    EXPECT_EQ(r.rates[1].lastSample, 8);

    // No rate: the timestamps times timemult, on the same axis as the trigger.
    in.rates.clear();
    in.timemult = 2.5;
    in.stamps = {0, 40, 80, 120, 160, 200, 240, 280, 320, 360};
    in.trigger = "05/03/2024,13:04:05.000400";
    ASSERT_EQ(Read(in, r), "");
    EXPECT_FALSE(r.TimesFromRates());
    EXPECT_NEAR(r.seconds[4], 160 * 2.5e-6, 1e-15);
    EXPECT_NEAR(r.TriggerSeconds(), r.seconds[4], 1e-12);

    // Without a rate a missing timestamp leaves a sample with no time: refused.
    in.stamps[3] = kNoStamp;
    const std::string e = Read(in, r);
    EXPECT_NE(e.find("t.DAT: byte " + std::to_string(3 * (8 + 2 * 2 + 2 * 2) + 4)), std::string::npos) << e;
    EXPECT_NE(e.find("expected a timestamp"), std::string::npos) << e;
}

TEST(ComtradeReader, SingleSampleOneRateLfLinesAndTwoDigitYears) {
    RecordingIn in = Sample(1991, "ASCII", 1);
    in.lineEnd = "\n";
    in.start = "03/05/91,23:59:59.5";
    in.trigger = "3/5/91,23:59:59.500001";
    comtrade::Recording r;
    ASSERT_EQ(Read(in, r), "");
    EXPECT_EQ(r.SampleCount(), 1u);
    EXPECT_EQ(comtrade::IsoText(r.startNs), "1991-03-05T23:59:59.500000");
    EXPECT_EQ(comtrade::IsoText(r.triggerNs), "1991-03-05T23:59:59.500001");
    in.start = "12/31/24,00:00:00.000000";
    ASSERT_EQ(Read(in, r), "");
    EXPECT_EQ(comtrade::IsoText(r.startNs), "2024-12-31T00:00:00.000000");
}

TEST(ComtradeReader, SingleFileCffWithBinaryAndAsciiSections) {
    for (const char* format : {"BINARY", "FLOAT32", "ASCII"}) {
        SCOPED_TRACE(format);
        RecordingIn in = Sample(2013, format);
        // A binary section may hold bytes that look like line ends and section lines.
        in.analog[0].raw[3] = 0x0A0D;
        comtrade::Recording r;
        ASSERT_EQ(comtrade::ReadCff("t.CFF", CffBytes(in), {}, r), "");
        ExpectSameValues(in, r);
    }
    RecordingIn in = Sample(2013, "BINARY");
    std::string cff = CffBytes(in);
    comtrade::Recording r;
    // Cut inside the binary section.
    std::string e = comtrade::ReadCff("t.CFF", cff.substr(0, cff.size() - 7), {}, r);
    EXPECT_NE(e.find("t.CFF: byte " + std::to_string(cff.size() - 7) + ": truncated"), std::string::npos) << e;
    // The DAT section names another type than the configuration.
    const size_t at = cff.find("DAT BINARY:");
    e = comtrade::ReadCff("t.CFF", cff.substr(0, at) + "DAT BINARY32" + cff.substr(at + 10), {}, r);
    EXPECT_NE(e.find("expected the data type the configuration names (BINARY), found 'BINARY32'"), std::string::npos)
        << e;
    e = comtrade::ReadCff("t.CFF", cff.substr(0, cff.find("--- file type: DAT")), {}, r);
    EXPECT_NE(e.find("expected a '--- file type: DAT ... ---' section"), std::string::npos) << e;
}

TEST(ComtradeReader, NamesAreUtf8GbkOrLatin1AndTheEncodingCanBeForced) {
    RecordingIn in = Sample(1999, "ASCII", 3);
    comtrade::Recording r;
    // Latin-1; "\xFCt" would pass for a GBK pair, but "\xC4," can't.
    in.analog[0].name = "Sch\xFCtz \xC4";
    ASSERT_EQ(Read(in, r), "");
    EXPECT_EQ(r.encoding, "ISO-8859-1");
    EXPECT_EQ(r.analog[0].name, "Schütz Ä");
    in.analog[0].name = "\xB1\xA3\xBB\xA4\xB6\xAF\xD7\xF7";  // GBK
    ASSERT_EQ(Read(in, r), "");
    EXPECT_EQ(r.encoding, "GBK");
    EXPECT_EQ(r.analog[0].name, "保护动作");
    in.analog[0].name = "Schutzauslösung";  // UTF-8
    ASSERT_EQ(Read(in, r), "");
    EXPECT_EQ(r.analog[0].name, "Schutzauslösung");
    // Bytes valid as GBK that were meant as Latin-1.
    in.analog[0].name = "\xC4\xE3";
    ASSERT_EQ(Read(in, r), "");
    EXPECT_EQ(r.analog[0].name, "你");
    ASSERT_EQ(Read(in, r, "latin-1"), "");
    EXPECT_EQ(r.analog[0].name, "Äã");
    EXPECT_NE(Read(in, r, "no-such-encoding").find("unknown text encoding"), std::string::npos);
}

TEST(ComtradeReader, DamagedFilesAreRefusedWithWhereAndWhat) {
    const RecordingIn in = Sample(1999, "BINARY", 6);
    const std::string cfg = ConfigText(in), dat = DataBytes(in);
    comtrade::Recording r;
    auto refusal = [&](const std::string& c, const std::string& d) { return comtrade::ReadPair("t.CFG", c, "t.DAT", d, {}, r); };
    struct Case {
        std::string cfg, dat, want;
    } cases[] = {
        // A status line with four fields: which one is missing can't be told.
        {ReplaceLine(cfg, 5, "1,S1,,0"), dat, "t.CFG: line 5: expected status channel line 1 with 3 or 5 fields, found 4"},
        // Eleven fields, the last not blank: neither layout.
        {ReplaceLine(cfg, 3, "1,Ia,A,Line 1,A,0.01,0.5,0,-32767,32767,100"), dat,
         "t.CFG: line 3: expected analog channel line 1 with 10 or 13 fields, found 11"},
        {ReplaceLine(cfg, 2, "19,2A,17X"), dat, "t.CFG: line 2: expected the count of status channels like 16D"},
        {ReplaceLine(cfg, 2, "20,2A,17D"), dat, "t.CFG: line 2: the total 20 is not 2 analog + 17 status channels"},
        {ReplaceLine(cfg, 27, "BINARY16"), dat,
         "t.CFG: line 27: expected the data file type ASCII, BINARY, BINARY32 or FLOAT32, found 'BINARY16'"},
        {ReplaceLine(cfg, 25, "31/02/2024,13:04:05.000000"), dat, "t.CFG: line 25: the start date and time: no such day"},
        {ReplaceLine(cfg, 1, "Station,Dev1,99"), dat, "t.CFG: line 1: expected the revision year 1991, 1999 or 2013"},
        {ReplaceLine(cfg, 24, "1000,x"), dat, "t.CFG: line 24: expected the last sample number (a whole number"},
        {ReplaceLine(ConfigText(Sample(2013, "BINARY", 6)), 30, "0,12"), dat,
         "t.CFG: line 30: expected the leap second indicator (a whole number 0..3)"},
        {cfg.substr(0, cfg.find("BINARY")), dat, "t.CFG: line 27: expected the data file type (1 fields), found the end of the file"},
        {cfg + "surplus\r\n", dat, "t.CFG: line 29: expected the end of the configuration, found 'surplus'"},
        {std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16), dat, "t.CFG: byte 8: not a COMTRADE configuration"},
    };
    for (const Case& c : cases) {
        const std::string e = refusal(c.cfg, c.dat);
        EXPECT_NE(e.find(c.want), std::string::npos) << "got: " << e << "\nwanted: " << c.want;
    }
    // ASCII data: a line with a field too many names the line.
    RecordingIn ascii = Sample(2013, "ASCII", 4);
    std::string text = DataBytes(ascii);
    const size_t third = text.find("\r\n", text.find("\r\n") + 2) + 2;
    text.insert(text.find("\r\n", third), ",0");
    const std::string e = comtrade::ReadPair("t.CFG", ConfigText(ascii), "t.DAT", text, {}, r);
    EXPECT_NE(e.find("t.DAT: line 3: expected 21 fields (sample number, timestamp, 2 analog, 17 status), found 22"),
              std::string::npos)
        << e;
}

TEST(ComtradeReader, QuirksAreReadWithAWarningThatNamesTheLineAndRefusedWhenStrict) {
    const RecordingIn bin = Sample(1999, "BINARY", 6), ascii = Sample(1999, "ASCII", 6), y2013 = Sample(2013, "ASCII", 6);
    const std::string cfg = ConfigText(bin), dat = DataBytes(bin), acfg = ConfigText(ascii), adat = DataBytes(ascii);
    RecordingIn repeated = bin;
    repeated.rates = {{1000, 3}, {2000, 3}, {500, 6}};
    RecordingIn backwards = Sample(1999, "ASCII", 6);
    backwards.rates.clear();
    backwards.stamps = {-2000, -1000, 0, 1000, 2000, 3000};
    RecordingIn unstamped = ascii;
    unstamped.stamps.assign(6, kNoStamp);
    RecordingIn fewer = ascii, more = ascii;
    fewer.rates = {{1000, 8}};
    RecordingIn seventh = bin;  // the configuration counts a seventh sample, cut short
    seventh.rates = {{1000, 7}};
    more.rates = {{1000, 4}};
    const size_t sample = 16;
    using Check = std::function<void(const comtrade::Recording&)>;
    const Check none = [](const comtrade::Recording&) {};
    struct Case {
        std::string cfg, dat, want;
        Check check;
    } cases[] = {
        {ReplaceLine(ConfigText(y2013), 30, "0,3?\?\?\?\?\?\?"), DataBytes(y2013),
         "t.CFG: line 30: junk after the leap second indicator '3?\?\?\?\?\?\?'; read as 3",
         [](const comtrade::Recording& r) { EXPECT_EQ(r.leapSecond, 3); }},
        {ReplaceLine(ConfigText(y2013), 30, "Bx,0"), DataBytes(y2013), "t.CFG: line 30: junk after the time quality code 'Bx'",
         [](const comtrade::Recording& r) { EXPECT_EQ(r.tmqCode, "B"); }},
        {ReplaceLine(cfg, 1, "Station,Dev1,2001"), dat, "t.CFG: line 1: the revision year 2001 is none of 1991, 1999 or 2013",
         [](const comtrade::Recording& r) { EXPECT_EQ(r.revision, 2001); }},
        {ConfigText(repeated), dat, "t.CFG: line 25: the last sample number 3 does not go past the 3 before it",
         [](const comtrade::Recording& r) {
             const double ms[] = {0, 1, 2, 3, 5, 7};  // the 2000 Hz segment holds nothing
             for (size_t i = 0; i < 6; ++i) EXPECT_NEAR(r.seconds[i] * 1000, ms[i], 1e-12) << i;
         }},
        {ConfigText(backwards), DataBytes(backwards),
         "t.DAT: line 1: negative time stamp -2000, read as a time before the start time (and 1 more like it)",
         [](const comtrade::Recording& r) { EXPECT_DOUBLE_EQ(r.seconds[0], -0.002); }},
        {ConfigText(seventh), dat + "\x12\x34\x56\x78\x9A\xBC\xDE\xF0",
         "t.DAT: byte " + std::to_string(6 * sample) + ": a truncated last sample (8 bytes of the 16 each BINARY sample takes), dropped",
         [](const comtrade::Recording& r) { EXPECT_EQ(r.SampleCount(), 6u); }},
        {cfg, dat + std::string("\x1A\0\0", 3), "t.DAT: byte 96: 3 bytes of Ctrl-Z or NUL padding after the last sample", none},
        {cfg, dat + dat.substr(0, 2 * sample), "t.DAT: byte 96: 32 bytes after the 6 samples the configuration counts, ignored", none},
        {ConfigText(more), adat, "t.DAT: line 5: more data lines than the 4 samples the configuration counts",
         [](const comtrade::Recording& r) { EXPECT_EQ(r.SampleCount(), 4u); }},
        {ConfigText(fewer), adat, "t.DAT: line 7: the data ends after 6 samples, the configuration counts 8; the count is corrected",
         [](const comtrade::Recording& r) { EXPECT_EQ(r.rates.back().lastSample, 6); }},
        {acfg, adat + "\x1A", "t.DAT: line 7: Ctrl-Z or NUL padding, ignored", none},
        {acfg, adat.substr(0, adat.size() - 2) + std::string("\0\0", 2), "t.DAT: line 6: Ctrl-Z or NUL padding after the last field", none},
        {acfg + std::string("\x1A\0", 2), adat, "t.CFG: byte " + std::to_string(acfg.size()) + ": Ctrl-Z or NUL padding", none},
        {ReplaceLine(cfg, 3, "1,Ia,A,Line 1,A,0.01,0.5,0,-32767,32767,100,1,S,"), dat,
         "t.CFG: line 3: 1 extra field(s) after the 13 of analog channel line 1, ignored",
         [&](const comtrade::Recording& r) { ExpectSameValues(bin, r); }},
        {ReplaceLine(cfg, 5, "1,S1,,Bay 1,0,x,y"), dat, "t.CFG: line 5: 2 extra field(s) after the 5 of status channel line 1", none},
        {ConfigText(unstamped), DataBytes(unstamped), "t.DAT: line 1: no time stamp; the times come from the rates (and 5 more like it)",
         [](const comtrade::Recording& r) { EXPECT_DOUBLE_EQ(r.seconds[5], 0.005); }},
        {ReplaceLine(cfg, 26, ","), dat, "t.CFG: line 26: a blank trigger time; the trigger is taken as the start time",
         [](const comtrade::Recording& r) { EXPECT_EQ(r.TriggerSeconds(), 0); }},
        {ReplaceLine(cfg, 26, "BINARY").substr(0, ReplaceLine(cfg, 26, "BINARY").rfind("BINARY")), dat,
         "t.CFG: line 26: no trigger time line; the trigger is taken as the start time",
         [](const comtrade::Recording& r) { EXPECT_EQ(r.format, comtrade::DataFormat::kBinary); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        comtrade::Recording r;
        ASSERT_EQ(comtrade::ReadPair("t.CFG", c.cfg, "t.DAT", c.dat, {}, r), "");
        ASSERT_FALSE(r.warnings.empty());
        EXPECT_EQ(r.warnings[0].find(c.want), 0u) << r.warnings[0];
        c.check(r);
        // Strict refuses at the first place, with the same words.
        comtrade::ReadOptions strict;
        strict.strict = true;
        const std::string e = comtrade::ReadPair("t.CFG", c.cfg, "t.DAT", c.dat, strict, r);
        EXPECT_EQ(e.find(c.want.substr(0, c.want.find(" (and"))), 0u) << e;
        EXPECT_NE(e.find("(refused: --strict)"), std::string::npos) << e;
    }
}

TEST(ComtradeReader, BlankAsciiValuesAreGapsAndFilesAreFoundBesideTheConfiguration) {
    vorlan_tools_test::TempDir dir;
    RecordingIn in;
    in.rates = {{1000, 3}};
    in.analog = {AnalogIn{"Ia", "A", "A", 2, 1, {1, 2, 3}}};
    vorlan_tools_test::WriteFile(dir.path() + "/rec.cfg", ConfigText(in));
    vorlan_tools_test::WriteFile(dir.path() + "/rec.dat", "1,0,\n2,1000, 99999 \n3,2000,3\n\n");
    comtrade::Recording r;
    ASSERT_EQ(comtrade::ReadRecording(dir.path() + "/rec.cfg", {}, r), "");
    EXPECT_TRUE(std::isnan(r.values[0][0]));
    EXPECT_TRUE(std::isnan(r.values[0][1]));
    EXPECT_EQ(r.values[0][2], 7.0);
    const std::string e = comtrade::ReadRecording(dir.path() + "/none.cfg", {}, r);
    EXPECT_NE(e.find("can't read"), std::string::npos) << e;
}

TEST(ComtradeReader, LargeFilesStreamInBlocksWithTheSameSamplesAsAWholeRead) {
    vorlan_tools_test::TempDir dir;
    for (const char* format : {"ASCII", "BINARY"}) {
        SCOPED_TRACE(format);
        // Over a megabyte of data, so lines and samples cross the reader's chunks.
        RecordingIn in = Sample(1999, format, 40000);
        in.rates = {{4000, 25000}, {1000, 40000}};
        const std::string base = dir.path() + "/big" + format;
        WritePair(base, in);
        comtrade::Recording whole, streamed;
        ASSERT_EQ(comtrade::ReadPair("t.CFG", ConfigText(in), "t.DAT", DataBytes(in), {}, whole), "");
        size_t next = 0, largest = 0;
        std::vector<double> seconds, ub;
        const std::string e = comtrade::StreamRecording(base + ".CFG", {}, streamed, [&](const comtrade::SampleBlock& b) {
            EXPECT_EQ(b.first, next);
            next += b.Size();
            largest = std::max(largest, b.Size());
            seconds.insert(seconds.end(), b.seconds.begin(), b.seconds.end());
            ub.insert(ub.end(), b.values[1].begin(), b.values[1].end());
        });
        ASSERT_EQ(e, "");
        EXPECT_EQ(streamed.SampleCount(), 0u);  // nothing kept in the recording itself
        EXPECT_EQ(streamed.samplesInFile, 40000u);
        EXPECT_LE(largest, 4096u);
        ASSERT_EQ(seconds.size(), 40000u);
        EXPECT_EQ(seconds, whole.seconds);
        EXPECT_DOUBLE_EQ(seconds[25000], 25000 / 4000.0);  // the second segment starts where the first ended
        EXPECT_DOUBLE_EQ(seconds[39999], 6.25 + 14999 / 1000.0);
        for (size_t i = 0; i < ub.size(); ++i) {
            if (std::isnan(whole.values[1][i])) ASSERT_TRUE(std::isnan(ub[i])) << i;
            else ASSERT_EQ(ub[i], whole.values[1][i]) << i;
        }
    }
}

// Times are 64-bit nanoseconds since 1970: the dates at either end still
// read exactly, anything beyond is refused instead of wrapping around.
TEST(ComtradeReader, DatesBeyondWhatNanosecondsHoldAreRefused) {
    int64_t ns = 7;
    EXPECT_EQ(comtrade::ParseDateTime("11/04/2262", "23:47:16.854775807", false, ns), "");
    EXPECT_EQ(ns, INT64_MAX);
    EXPECT_EQ(comtrade::ParseDateTime("21/09/1677", "00:12:43.145224192", false, ns), "");
    EXPECT_EQ(ns, INT64_MIN);
    EXPECT_EQ(comtrade::IsoText(ns), "1677-09-21T00:12:43.145224");
    EXPECT_EQ(comtrade::ParseDateTime("31/12/1969", "23:59:59.5", false, ns), "");
    EXPECT_EQ(ns, -500000000);

    ns = 7;
    for (const auto& [date, time] : {std::pair{"11/04/2262", "23:47:16.854775808"}, {"12/04/2262", "00:00:00"},
                                     {"31/12/9999", "23:59:60.999999999"}, {"21/09/1677", "00:12:43.145224191"},
                                     {"01/01/0000", "00:00:00"}}) {
        const std::string e = comtrade::ParseDateTime(date, time, false, ns);
        EXPECT_NE(e.find("outside the years 1677 to 2262"), std::string::npos) << date << " " << time << ": " << e;
        EXPECT_EQ(ns, 7) << "a refused time leaves the result alone";
    }

    RecordingIn in = Sample(1999, "BINARY", 6);
    comtrade::Recording r;
    // A trigger at one end and a start at the other: seconds between, not a wrapped difference.
    in.start = "21/09/1677,00:12:44.000000";
    in.trigger = "11/04/2262,23:47:16.000000";
    ASSERT_EQ(Read(in, r), "");
    EXPECT_NEAR(r.TriggerSeconds(), 18446744072.0, 1.0);

    // In a file: the line that carries it is named.
    in.start = "05/03/9999,13:04:05.000000";
    const std::string e = Read(in, r);
    EXPECT_NE(e.find("line 25: the start date and time: outside the years 1677 to 2262"), std::string::npos) << e;
}
