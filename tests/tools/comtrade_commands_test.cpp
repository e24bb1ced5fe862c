// SPDX-License-Identifier: Apache-2.0
// vorlan-host info, export and plot run as the built program on recordings
// the test generator writes, compared with what the generator put in.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "comtrade_writer.h"
#include "tool_process.h"

using namespace comtrade_test;
using namespace vorlan_tools_test;

namespace {

Result Host(const std::string& arguments) { return RunTool(ToolPath("vorlan-host") + " " + arguments); }

std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> row;
        std::string field;
        std::istringstream fields(line);
        while (std::getline(fields, field, ',')) row.push_back(field);
        if (!line.empty() && line.back() == ',') row.emplace_back();
        rows.push_back(row);
    }
    return rows;
}

RecordingIn Mixed(int revision, const std::string& format) {
    RecordingIn in;
    in.revision = revision;
    in.format = format;
    in.station = "Umspannwerk";
    in.rates = {{4000, 6}, {1000, 10}};
    in.analog = {AnalogIn{"Ia", "A", "A", 0.01, 0.5, Wave(10, 3000, {0, 4})},
                 AnalogIn{"Ub", "B", "kV", 0.25, -1, Wave(10, 200, {9})},
                 AnalogIn{"Gap", "N", "A", 1, 0, std::vector<double>(10, kGap)}};
    in.status = {StatusIn{"Trip", {0, 0, 0, 1, 1, 1, 1, 0, 0, 0}}, StatusIn{"Close", {1, 1, 1, 1, 1, 0, 0, 0, 0, 0}}};
    in.trigger = "05/03/2024,13:04:05.001250";
    return in;
}

}  // namespace

TEST(ComtradeCommands, InfoJsonAndExportCsvGiveBackWhatTheGeneratorWrote) {
    TempDir dir;
    const std::pair<int, const char*> cases[] = {{1991, "ASCII"}, {1999, "BINARY"}, {2013, "BINARY32"}, {2013, "FLOAT32"}};
    for (const auto& [revision, format] : cases) {
        SCOPED_TRACE(std::to_string(revision) + " " + format);
        const RecordingIn in = Mixed(revision, format);
        const std::string base = dir.path() + "/r" + std::to_string(revision) + format;
        WritePair(base, in);

        const Result info = Host("info --json " + Quote(base + ".CFG"));
        ASSERT_EQ(info.code, 0) << info.output;
        const auto j = nlohmann::json::parse(info.output);
        EXPECT_EQ(j["station"], "Umspannwerk");
        EXPECT_EQ(j["device"], "Dev1");
        EXPECT_EQ(j["revision"], revision);
        EXPECT_EQ(j["format"], format);
        EXPECT_EQ(j["samples"], 10);
        EXPECT_EQ(j["rates"], nlohmann::json::parse("[[4000.0,6],[1000.0,10]]"));
        EXPECT_EQ(j["start"], revision == 1991 ? "2024-05-03T13:04:05.000000" : "2024-03-05T13:04:05.000000");
        EXPECT_EQ(j["trigger"], revision == 1991 ? "2024-05-03T13:04:05.001250" : "2024-03-05T13:04:05.001250");
        ASSERT_EQ(j["analog"].size(), 3u);
        for (size_t c = 0; c < 2; ++c) {
            double lo = INFINITY, hi = -INFINITY;
            for (size_t i = 0; i < 10; ++i) {
                const double v = in.Scaled(c, i);
                if (!std::isnan(v)) lo = std::min(lo, v), hi = std::max(hi, v);
            }
            EXPECT_EQ(j["analog"][c]["index"], c + 1);
            EXPECT_EQ(j["analog"][c]["name"], in.analog[c].name);
            EXPECT_EQ(j["analog"][c]["phase"], in.analog[c].phase);
            EXPECT_EQ(j["analog"][c]["unit"], in.analog[c].unit);
            EXPECT_NEAR(j["analog"][c]["min"].get<double>(), lo, 1e-9);
            EXPECT_NEAR(j["analog"][c]["max"].get<double>(), hi, 1e-9);
        }
        EXPECT_TRUE(j["analog"][2]["min"].is_null());  // every value missing
        EXPECT_EQ(j["digital"], nlohmann::json::parse(R"([{"index":1,"name":"Trip"},{"index":2,"name":"Close"}])"));
        EXPECT_EQ(j["warnings"], nlohmann::json::array());

        const Result table = Host("export --csv " + Quote(base + ".CFG"));
        ASSERT_EQ(table.code, 0) << table.output;
        const auto rows = CsvRows(table.output);
        ASSERT_EQ(rows.size(), 11u) << table.output;
        EXPECT_EQ(rows[0], (std::vector<std::string>{"time_s", "Ia_A", "Ub_kV", "Gap_A", "Trip", "Close"}));
        const double times[] = {0, 0.25, 0.5, 0.75, 1.0, 1.25, 1.5, 2.5, 3.5, 4.5};  // ms, each sample lasting its own period
        for (size_t i = 0; i < 10; ++i) {
            const auto& row = rows[i + 1];
            ASSERT_EQ(row.size(), 6u) << table.output;
            EXPECT_NEAR(std::strtod(row[0].c_str(), nullptr), times[i] / 1000, 1e-12) << i;
            for (size_t c = 0; c < 3; ++c) {
                const double want = in.Scaled(c, i);
                if (std::isnan(want)) EXPECT_EQ(row[1 + c], "") << i;
                else EXPECT_NEAR(std::strtod(row[1 + c].c_str(), nullptr), want, 1e-9) << i << " " << row[1 + c];
            }
            EXPECT_EQ(row[4], std::to_string(in.status[0].values[i]));
            EXPECT_EQ(row[5], std::to_string(in.status[1].values[i]));
        }
    }
}

TEST(ComtradeCommands, CffAndDamagedFilesThroughTheCommands) {
    TempDir dir;
    const RecordingIn in = Mixed(2013, "BINARY");
    WriteFile(dir.path() + "/one.cff", CffBytes(in));
    Result r = Host("--json info " + Quote(dir.path() + "/one.cff"));
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(nlohmann::json::parse(r.output)["format"], "BINARY");
    r = Host("plot " + Quote(dir.path() + "/one.cff"));
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(ReadFile(dir.path() + "/one.png").substr(1, 3), "PNG");

    // A damaged file: exit code 7, the file and line, and no pictures at all.
    RecordingIn bad = in;
    bad.format = "BINARY64";
    WritePair(dir.path() + "/bad", bad);
    for (const char* command : {"info", "export", "plot"}) {
        r = Host(std::string(command) + " " + Quote(dir.path() + "/bad.CFG"));
        EXPECT_EQ(r.code, 7) << r.output;
        EXPECT_NE(r.output.find("bad.CFG: line 14: expected the data file type ASCII, BINARY, BINARY32 or FLOAT32"),
                  std::string::npos)
            << r.output;
    }
    EXPECT_EQ(ReadFile(dir.path() + "/bad.svg"), "");
    EXPECT_EQ(ReadFile(dir.path() + "/bad.png"), "");
}

TEST(ComtradeCommands, PlotPagesManyChannelsAndDrawsASingleSample) {
    TempDir dir;
    RecordingIn many;
    many.rates = {{1000, 3}};
    for (int c = 0; c < 600; ++c) many.analog.push_back(AnalogIn{"A" + std::to_string(c), "A", "A", 1, 0, {1, kGap, 3}});
    WritePair(dir.path() + "/many", many);
    Result r = Host("--json plot --width 700 " + Quote(dir.path() + "/many.CFG"));
    ASSERT_EQ(r.code, 0) << r.output;
    const auto files = nlohmann::json::parse(r.output)["files"];
    ASSERT_EQ(files.size(), 6u) << r.output;  // 600 lanes of 64 pixels: three pages
    for (const auto& file : files) {
        const std::string bytes = ReadFile(file.get<std::string>());
        ASSERT_FALSE(bytes.empty()) << file;
        if (file.get<std::string>().find(".png") != std::string::npos) {
            ASSERT_GE(bytes.size(), 24u);
            const uint32_t height = static_cast<uint32_t>(static_cast<unsigned char>(bytes[20]) << 24 |
                                                          static_cast<unsigned char>(bytes[21]) << 16 |
                                                          static_cast<unsigned char>(bytes[22]) << 8 |
                                                          static_cast<unsigned char>(bytes[23]));
            EXPECT_LT(height, 32768u) << file;
        }
    }
    EXPECT_EQ(files[2], dir.path() + "/many-p2.svg");

    RecordingIn one;
    one.rates = {{1000, 1}};
    one.analog = {AnalogIn{"Ia", "A", "A", 1, 0, {5}}};
    one.status = {StatusIn{"Trip", {1}}};
    WritePair(dir.path() + "/one", one);
    r = Host("plot " + Quote(dir.path() + "/one.CFG"));
    ASSERT_EQ(r.code, 0) << r.output;
    // The lone value is drawn as a dot filled in the first channel's colour, not left out.
    EXPECT_NE(ReadFile(dir.path() + "/one.svg").find("fill:rgb(80%,55%,0%)"), std::string::npos);
}

namespace {

// Three currents of 100 A at 0, -120 and 120 degrees, 20 samples per cycle,
// and a trip one cycle after the trigger.
RecordingIn Balanced() {
    RecordingIn in;
    in.format = "ASCII";
    in.rates = {{1000, 200}};
    in.trigger = "05/03/2024,13:04:05.050000";
    const char* names[] = {"IA", "IB", "IC"};
    const char* phases[] = {"A", "B", "C"};
    for (int k = 0; k < 3; ++k) {
        std::vector<double> raw;
        for (int i = 0; i < 200; ++i) {
            raw.push_back(std::round(100 * std::sqrt(2.0) * std::cos(2 * M_PI * 50 * i / 1000.0 - k * 2 * M_PI / 3) / 0.01));
        }
        in.analog.push_back(AnalogIn{names[k], phases[k], "A", 0.01, 0, raw});
    }
    std::vector<int32_t> trip(200, 0);
    for (int i = 70; i < 200; ++i) trip[static_cast<size_t>(i)] = 1;
    in.status = {StatusIn{"Trip", trip}};
    return in;
}

}  // namespace

TEST(ComtradeCommands, AnalyseGivesPhasorsSequencesAndChangesAsTextJsonAndCsv) {
    TempDir dir;
    WritePair(dir.path() + "/f", Balanced());
    const std::string file = Quote(dir.path() + "/f.CFG");
    Result r = Host("--json analyse " + file);
    ASSERT_EQ(r.code, 0) << r.output;
    const auto j = nlohmann::json::parse(r.output);
    EXPECT_EQ(j["frequency"], 50);
    EXPECT_EQ(j["reference"], "IA");
    ASSERT_EQ(j["channels"].size(), 3u);
    EXPECT_NEAR(j["channels"][1]["phasor"]["magnitude"].get<double>(), 100, 0.5);
    EXPECT_NEAR(j["channels"][1]["phasor"]["angle"].get<double>(), -120, 0.5);
    EXPECT_EQ(j["channels"][1]["values"], "secondary");
    ASSERT_EQ(j["sets"].size(), 1u);
    EXPECT_EQ(j["sets"][0]["channels"], "IA,IB,IC");
    EXPECT_NEAR(j["sets"][0]["positive"]["magnitude"].get<double>(), 100, 0.5);
    EXPECT_LT(j["sets"][0]["negative"]["magnitude"].get<double>(), 0.5);
    EXPECT_NEAR(j["digital"][0]["changes"][0]["time"].get<double>(), 0.02, 1e-9);
    EXPECT_EQ(j["series"]["time"].size(), j["series"]["channels"][0]["rms"].size());

    r = Host("analyse --at 0.05 " + file);
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("three-phase set IA,IB,IC (A):"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Trip: 0, 0.020000 -> 1"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("window ending at 0.050000 s"), std::string::npos) << r.output;

    r = Host("analyse --csv --freq 50 --ref IB " + file);
    ASSERT_EQ(r.code, 0) << r.output;
    const auto rows = CsvRows(r.output);
    ASSERT_GT(rows.size(), 5u);
    EXPECT_EQ(rows[0][0], "time_s");
    EXPECT_EQ(rows[0][1], "IA_rms_A");
    EXPECT_EQ(rows[0][3], "IA_angle_deg");
    EXPECT_NEAR(std::strtod(rows[4][3].c_str(), nullptr), 120, 0.5);  // IA against IB

    for (const char* wrong : {"--ref IX", "--set IA,IB", "--set IA,IB,IX"}) {
        r = Host(std::string("analyse ") + wrong + " " + file);
        EXPECT_EQ(r.code, 2) << wrong << ": " << r.output;
    }
}

TEST(ComtradeCommands, QuirksAreWarnedAboutAndRefusedWithStrict) {
    TempDir dir;
    RecordingIn in = Balanced();
    in.revision = 2001;
    WritePair(dir.path() + "/q", in);
    const std::string file = Quote(dir.path() + "/q.CFG");
    Result r = Host("--json info " + file);
    ASSERT_EQ(r.code, 0) << r.output;
    const auto j = nlohmann::json::parse(r.output);
    EXPECT_EQ(j["revision"], 2001);
    ASSERT_EQ(j["warnings"].size(), 1u);
    EXPECT_NE(j["warnings"][0].get<std::string>().find("q.CFG: line 1: the revision year 2001"), std::string::npos);
    // The warning goes to standard error; the table stays clean.
    r = RunToolStdout(ToolPath("vorlan-host") + " export " + file);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.output.find("warning"), std::string::npos);
    for (const char* command : {"info", "export", "analyse", "plot"}) {
        r = Host(std::string(command) + " --strict " + file);
        EXPECT_EQ(r.code, 7) << command << ": " << r.output;
        EXPECT_NE(r.output.find("q.CFG: line 1: the revision year 2001"), std::string::npos) << r.output;
    }
    // A refused table leaves no file behind.
    r = Host("export --strict -o " + Quote(dir.path() + "/q.csv") + " " + file);
    EXPECT_EQ(r.code, 7);
    EXPECT_EQ(ReadFile(dir.path() + "/q.csv"), "");
    EXPECT_EQ(ReadFile(dir.path() + "/q.csv.part"), "");
}

TEST(ComtradeCommands, NumbersShowTheChannelsResolutionAndWideNamesKeepTheColumns) {
    TempDir dir;
    RecordingIn in;
    in.rates = {{1200, 3}};
    in.analog = {AnalogIn{"电流Ia", "A", "A", 0.01, 0, {-804, 1, 250}}, AnalogIn{"Ib", "B", "A", 0.01, 0, {3, 2, 1}}};
    WritePair(dir.path() + "/n", in);
    const std::string file = Quote(dir.path() + "/n.CFG");
    Result r = Host("export " + file);
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(r.output, "time_s,电流Ia_A,Ib_A\n0,-8.04,0.03\n0.000833,0.01,0.02\n0.001667,2.5,0.01\n");
    r = Host("info " + file);
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("-8.04 .. 2.5"), std::string::npos) << r.output;
    // "phase" stands in the same terminal column on both lines (a CJK character takes two).
    const size_t a = r.output.find("电流Ia"), b = r.output.find("  A2");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    const size_t lineA = r.output.rfind('\n', a) + 1, lineB = b;
    const size_t colA = r.output.find("phase", a) - lineA - 2;  // two characters of three bytes, two columns each
    const size_t colB = r.output.find("phase", b) - lineB;
    EXPECT_EQ(colA, colB) << r.output;
}

TEST(ComtradeCommands, PlotDrawsAWindowOfChosenChannelsWithTheirRms) {
    TempDir dir;
    WritePair(dir.path() + "/p", Balanced());
    const std::string file = Quote(dir.path() + "/p.CFG");
    Result r = Host("--json plot --rms --from -0.01 --to 0.04 --channels IA,Trip -o " + Quote(dir.path() + "/w") + " " + file);
    ASSERT_EQ(r.code, 0) << r.output;
    const auto j = nlohmann::json::parse(r.output);
    EXPECT_EQ(j["channels"], 2);
    EXPECT_EQ(j["samples"], 51);  // 40 ms to 90 ms after the start, both ends kept
    const std::string svg = ReadFile(dir.path() + "/w.svg");
    EXPECT_NE(svg.find("stroke-dasharray:5,2"), std::string::npos);  // the RMS trace
    r = Host("plot --channels IX " + file);
    EXPECT_EQ(r.code, 2) << r.output;
    r = Host("plot --from 1 --to 2 " + file);
    EXPECT_EQ(r.code, 2) << r.output;
}

namespace {

// The labels of an SVG the plot wrote, as (y, text) in the order drawn.
std::vector<std::pair<double, std::string>> SvgLabels(const std::string& svg) {
    std::vector<std::pair<double, std::string>> labels;
    for (size_t at = svg.find("<text "); at != std::string::npos; at = svg.find("<text ", at + 1)) {
        const size_t y = svg.find(" y=\"", at);
        const size_t open = svg.find('>', at), close = svg.find("</text>", at);
        if (y == std::string::npos || open == std::string::npos || close == std::string::npos) break;
        labels.emplace_back(std::atof(svg.c_str() + y + 4), svg.substr(open + 1, close - open - 1));
    }
    return labels;
}

bool HasLabel(const std::vector<std::pair<double, std::string>>& labels, const std::string& text) {
    for (const auto& label : labels) {
        if (label.second == text) return true;
    }
    return false;
}

// A fault current of 80 A beside 0.2 A of noise, and a status word walking
// through 0, 3, 7, 128, 132 (bits 0, 1, 2 and 7 change; 3 to 6 never do).
RecordingIn FaultWithStatusWord() {
    RecordingIn in;
    in.rates = {{1000, 40}};
    in.trigger = "05/03/2024,13:04:05.010000";  // 10 ms after the first sample
    AnalogIn fault{"IA", "A", "A", 1, 0, Wave(40, 80)};
    AnalogIn noise{"IN", "N", "A", 0.01, 0, Wave(40, 20)};
    AnalogIn voltage{"UA", "A", "kV", 1, 0, Wave(40, 60)};
    in.analog = {fault, noise, voltage};
    StatusIn word{"SW1", {}};
    const int32_t steps[] = {0, 3, 7, 128, 132};
    for (size_t i = 0; i < 40; ++i) word.values.push_back(steps[i / 8]);
    in.status = {word, StatusIn{"Trip", std::vector<int32_t>(40, 0)}};
    in.status[1].values[25] = 1;
    return in;
}

}  // namespace

TEST(ComtradePlot, TimeFromTheTriggerScalesPerUnitAndTextLabels) {
    TempDir dir;
    WritePair(dir.path() + "/f", FaultWithStatusWord());
    Result r = Host("plot " + Quote(dir.path() + "/f.CFG"));
    ASSERT_EQ(r.code, 0) << r.output;
    const std::string svg = ReadFile(dir.path() + "/f.svg");
    const auto labels = SvgLabels(svg);
    // Labels are text elements, not glyph outlines.
    EXPECT_EQ(svg.find("<symbol"), std::string::npos);
    EXPECT_TRUE(HasLabel(labels, "IA (A)"));
    // The samples run from 10 ms before the trigger to 29 ms after it.
    EXPECT_TRUE(HasLabel(labels, "-10 ms"));
    EXPECT_TRUE(HasLabel(labels, "0 ms"));
    EXPECT_TRUE(HasLabel(labels, "25 ms"));
    EXPECT_FALSE(HasLabel(labels, "35 ms"));
    // Both currents on the fault current's scale, with their unit; the voltage on its own.
    size_t amps = 0;
    for (const auto& label : labels) amps += label.second == "+100 A" || label.second == "-100 A";
    EXPECT_EQ(amps, 4u);
    EXPECT_TRUE(HasLabel(labels, "+100 kV"));
    // The trigger's label sits below the heading's two lines.
    double headingBottom = 0, triggerY = 0;
    for (const auto& [y, text] : labels) {
        if (text.rfind("start ", 0) == 0) headingBottom = y;
        if (text == "trigger") triggerY = y;
    }
    EXPECT_GT(triggerY, headingBottom + 12);

    // Each channel on its own scale when asked: the noise gets a small one.
    r = Host("plot --scale channel -o " + Quote(dir.path() + "/own") + " " + Quote(dir.path() + "/f.CFG"));
    ASSERT_EQ(r.code, 0) << r.output;
    const auto own = SvgLabels(ReadFile(dir.path() + "/own.svg"));
    EXPECT_TRUE(HasLabel(own, "+100 A"));
    EXPECT_TRUE(HasLabel(own, "+0.2 A"));
    EXPECT_EQ(Host("plot --scale page " + Quote(dir.path() + "/f.CFG")).code, 2);
}

TEST(ComtradePlot, StatusWordsAreDrawnOneRowPerChangingBitWithTheirNames) {
    TempDir dir;
    WritePair(dir.path() + "/f", FaultWithStatusWord());
    const std::string cfg = Quote(dir.path() + "/f.CFG");
    Result r = Host("plot " + cfg);
    ASSERT_EQ(r.code, 0) << r.output;
    auto labels = SvgLabels(ReadFile(dir.path() + "/f.svg"));
    for (int bit : {0, 1, 2, 7}) EXPECT_TRUE(HasLabel(labels, "SW1.bit" + std::to_string(bit))) << bit;
    for (int bit : {3, 4, 5, 6}) EXPECT_FALSE(HasLabel(labels, "SW1.bit" + std::to_string(bit))) << bit;
    EXPECT_TRUE(HasLabel(labels, "SW1 is a status word; rows for the bits that change: bit0, bit1, bit2, bit7"));
    EXPECT_TRUE(HasLabel(labels, "Trip (digital)"));  // a 0/1 channel stays one row

    // Names from the .bits file beside the recording: a channel's own line wins,
    // lines that don't fit are left out with a warning, markup stays text.
    WriteFile(dir.path() + "/f.bits", "# bits of the status word\n"
                                      "bit0 closed\n"
                                      "SW1.bit0 breaker closed\r\n"
                                      "bit7 <alarm> & trip\n"
                                      "bit32 too high\n"
                                      "bitx nonsense\n"
                                      "bit1 " + std::string(65, 'n') + "\n");
    r = Host("plot " + cfg);
    ASSERT_EQ(r.code, 0) << r.output;
    size_t warnings = 0;
    for (size_t at = r.output.find("f.bits:"); at != std::string::npos; at = r.output.find("f.bits:", at + 1)) ++warnings;
    EXPECT_EQ(warnings, 3u) << r.output;
    const std::string svg = ReadFile(dir.path() + "/f.svg");
    labels = SvgLabels(svg);
    EXPECT_TRUE(HasLabel(labels, "SW1 is a status word; rows for the bits that change: bit0 breaker closed, bit1, "
                                 "bit2, bit7 &lt;alarm&gt; &amp; trip"))
        << svg;

    // A file named with --bits must be there; one too large is refused.
    EXPECT_EQ(Host("plot --bits " + Quote(dir.path() + "/none.bits") + " " + cfg).code, 7);
    WriteFile(dir.path() + "/f.bits", std::string(70 * 1024, '#'));
    r = Host("plot " + cfg);
    EXPECT_EQ(r.code, 7) << r.output;
    EXPECT_NE(r.output.find("larger than"), std::string::npos) << r.output;
}
