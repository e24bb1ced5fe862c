// The analysis of recordings with known content: sinusoids of given RMS,
// angle and harmonics, a balanced set, a single-phase fault, a step in
// magnitude, and digital channels with status words.

#include <gtest/gtest.h>

#include <cmath>

#include "analysis.h"
#include "comtrade_writer.h"
#include "reader.h"

using namespace comtrade_test;

namespace {

constexpr double kHz = 50, kRate = 2000, kScale = 0.001;  // 40 samples per cycle
constexpr size_t kSamples = 800;                           // 0.4 s; the trigger at 0.1 s
const double kPi = std::acos(-1.0);

struct Component {
    int order;
    double rms, degrees;
};

// Stored values of a sum of sinusoids, angles at the trigger's instant.
std::vector<double> Sines(const std::vector<Component>& parts, size_t from = 0, double before = 1) {
    std::vector<double> raw;
    for (size_t i = 0; i < kSamples; ++i) {
        const double t = static_cast<double>(i) / kRate - 0.1;
        double x = 0;
        for (const Component& c : parts) {
            x += std::sqrt(2.0) * c.rms * std::cos(2 * kPi * kHz * c.order * t + c.degrees * kPi / 180);
        }
        if (i < from) x *= before;
        raw.push_back(std::round(x / kScale));
    }
    return raw;
}

AnalogIn Channel(const std::string& name, const std::string& phase, const std::string& unit, std::vector<double> raw) {
    return AnalogIn{name, phase, unit, kScale, 0, std::move(raw)};
}

RecordingIn Recording(std::vector<AnalogIn> analog, std::vector<StatusIn> status = {}) {
    RecordingIn in;
    in.rates = {{kRate, static_cast<long>(kSamples)}};
    in.start = "05/03/2024,13:04:05.000000";
    in.trigger = "05/03/2024,13:04:05.100000";
    in.analog = std::move(analog);
    in.status = std::move(status);
    return in;
}

// Reads the recording and feeds the analyser blocks of an odd size.
comtrade::Analysis Analyse(const RecordingIn& in, comtrade::AnalysisOptions options = {}) {
    comtrade::Recording r;
    EXPECT_EQ(comtrade::ReadPair("t.CFG", ConfigText(in), "t.DAT", DataBytes(in), {}, r), "");
    EXPECT_EQ(comtrade::Analyser::Check(r, options), "");
    comtrade::Analyser analyser(r, options);
    comtrade::SampleBlock b;
    for (size_t first = 0; first < r.SampleCount(); first += 777) {
        const size_t end = std::min(r.SampleCount(), first + 777);
        b.first = first;
        b.seconds.assign(r.seconds.begin() + first, r.seconds.begin() + end);
        b.numbers.assign(r.numbers.begin() + first, r.numbers.begin() + end);
        b.values.clear();
        for (const auto& v : r.values) b.values.emplace_back(v.begin() + first, v.begin() + end);
        b.states.clear();
        for (const auto& v : r.states) b.states.emplace_back(v.begin() + first, v.begin() + end);
        analyser.Add(b);
    }
    return analyser.Finish();
}

void ExpectPhasor(const comtrade::Phasor& p, double rms, double degrees, const std::string& what) {
    EXPECT_NEAR(p.magnitude, rms, rms * 0.005 + 1e-9) << what;
    EXPECT_NEAR(p.degrees, degrees, 0.5) << what;
}

}  // namespace

TEST(ComtradeAnalysis, SinusoidsGiveTheirRmsAnglesHarmonicsAndThd) {
    const RecordingIn in = Recording({Channel("IA", "A", "A", Sines({{1, 100, 10}})),
                                      Channel("IB", "B", "A", Sines({{1, 50, -20}, {3, 5, 20}, {5, 2.5, -60}, {15, 1, 0}})),
                                      Channel("UA", "A", "kV", Sines({{1, 63.5, 85}}))});
    comtrade::Analysis a = Analyse(in);
    EXPECT_EQ(a.hz, 50);
    EXPECT_DOUBLE_EQ(a.at, 0.02);  // one cycle after the trigger by default
    EXPECT_NEAR(a.windowEnd, 0.02, 1e-9);
    ExpectPhasor(a.channels[0].fundamental, 100, 0, "IA is the reference");
    ExpectPhasor(a.channels[1].fundamental, 50, -30, "IB");
    ExpectPhasor(a.channels[2].fundamental, 63.5, 75, "UA");
    EXPECT_NEAR(a.channels[0].rms, 100, 0.5);
    EXPECT_NEAR(a.channels[1].rms, std::sqrt(50 * 50 + 5 * 5 + 2.5 * 2.5 + 1), 0.25);
    const auto& h = a.channels[1].harmonics;
    ASSERT_EQ(h.size(), 14u);
    EXPECT_NEAR(h[3 - 2], 5, 0.025);
    EXPECT_NEAR(h[5 - 2], 2.5, 0.0125);
    EXPECT_NEAR(h[15 - 2], 1, 0.005);
    EXPECT_NEAR(h[2 - 2], 0, 0.01);
    EXPECT_NEAR(a.channels[1].thd, std::sqrt(25 + 6.25 + 1) / 50, 0.0005);
    EXPECT_NEAR(a.channels[0].thd, 0, 0.001);

    // Another reference and time; the sinusoids are steady, so only the reference shows.
    comtrade::AnalysisOptions options;
    options.reference = "UA";
    options.at = 0.2;
    options.atGiven = true;
    a = Analyse(in, options);
    ExpectPhasor(a.channels[0].fundamental, 100, -75, "IA against UA");
    ExpectPhasor(a.channels[1].fundamental, 50, -105, "IB against UA");
    EXPECT_NEAR(a.windowEnd, 0.2, 1e-9);
}

TEST(ComtradeAnalysis, SequenceComponentsOfABalancedSetAndASinglePhaseFault) {
    // Currents of one circuit form a set; the voltages (another unit) another.
    RecordingIn in = Recording({Channel("UA", "A", "kV", Sines({{1, 63.5, 0}})),
                                Channel("UB", "B", "kV", Sines({{1, 63.5, -120}})),
                                Channel("UC", "C", "kV", Sines({{1, 63.5, 120}})),
                                Channel("IA", "A", "A", Sines({{1, 100, -30}})),
                                Channel("IB", "B", "A", Sines({{1, 100, -150}})),
                                Channel("IC", "C", "A", Sines({{1, 100, 90}}))});
    comtrade::Analysis a = Analyse(in);
    ASSERT_EQ(a.sets.size(), 2u);
    EXPECT_EQ(a.sets[0].channels, (std::vector<size_t>{0, 1, 2}));
    EXPECT_EQ(a.sets[1].channels, (std::vector<size_t>{3, 4, 5}));
    ExpectPhasor(a.sets[0].positive, 63.5, 0, "U1");
    ExpectPhasor(a.sets[1].positive, 100, -30, "I1");
    EXPECT_LT(a.sets[0].negative.magnitude, 63.5 * 0.005);
    EXPECT_LT(a.sets[0].zero.magnitude, 63.5 * 0.005);
    EXPECT_LT(a.sets[1].negative.magnitude, 0.5);
    EXPECT_LT(a.sets[1].zero.magnitude, 0.5);

    // A fault on phase A alone: the three sequences are a third of it each.
    in.analog[3].raw = Sines({{1, 1200, -80}});
    in.analog[4].raw = Sines({});
    in.analog[5].raw = Sines({});
    a = Analyse(in);
    ExpectPhasor(a.sets[1].positive, 400, -80, "I1");
    ExpectPhasor(a.sets[1].negative, 400, -80, "I2");
    ExpectPhasor(a.sets[1].zero, 400, -80, "I0");

    // A set named on the command line, in another order: B is taken as A.
    comtrade::AnalysisOptions options;
    options.sets = {{"IB", "IC", "IA"}};
    in.analog[3].raw = Sines({{1, 100, -30}});
    in.analog[4].raw = Sines({{1, 100, -150}});
    in.analog[5].raw = Sines({{1, 100, 90}});
    a = Analyse(in, options);
    ASSERT_EQ(a.sets.size(), 1u);
    ExpectPhasor(a.sets[0].positive, 100, -150, "I1 of B,C,A");
}

TEST(ComtradeAnalysis, RmsSeriesFollowsAStepOneRowPerCycle) {
    // 10 A up to the trigger, 100 A after it.
    const RecordingIn in = Recording({Channel("IA", "A", "A", Sines({{1, 100, 0}}, 201, 0.1))});
    const comtrade::Analysis a = Analyse(in);
    const auto& s = a.series;
    ASSERT_GE(s.seconds.size(), 18u);
    for (size_t i = 1; i < s.seconds.size(); ++i) EXPECT_NEAR(s.seconds[i] - s.seconds[i - 1], 0.02, 1e-9);
    size_t atTrigger = 0;
    while (std::fabs(s.seconds[atTrigger]) > 1e-9) ++atTrigger;
    EXPECT_NEAR(s.rms[0][atTrigger], 10, 0.05);       // the cycle before the trigger
    EXPECT_NEAR(s.rms[0][atTrigger + 1], 100, 0.5);   // the first cycle after it
    EXPECT_NEAR(s.magnitude[0][atTrigger + 2], 100, 0.5);
    EXPECT_TRUE(std::isnan(s.rms[0][0]));  // the first row has no whole cycle yet
}

TEST(ComtradeAnalysis, DigitalChangesAndTheBitsOfStatusWords) {
    std::vector<int32_t> trip(kSamples, 0), word(kSamples, 0);
    for (size_t i = 240; i < kSamples; ++i) trip[i] = 1;  // 20 ms after the trigger
    const int32_t words[] = {0, 3, 7, 128, 132};
    for (size_t i = 0; i < kSamples; ++i) word[i] = words[i / 160];
    const RecordingIn in = Recording({Channel("IA", "A", "A", Sines({{1, 1, 0}}))}, {{"Trip", trip}, {"Word", word}});
    const comtrade::Analysis a = Analyse(in);
    ASSERT_EQ(a.digital.size(), 5u);  // Trip, then the bits of Word that changed
    // The same without any analog channel, and with a line frequency far above the sampling rate.
    comtrade::AnalysisOptions fast;
    fast.hz = 1e9;
    const comtrade::Analysis digitalOnly = Analyse(Recording({}, {{"Trip", trip}, {"Word", word}}), fast);
    EXPECT_EQ(digitalOnly.digital.size(), 5u);
    EXPECT_TRUE(digitalOnly.channels.empty());
    EXPECT_EQ(a.digital[0].name, "Trip");
    ASSERT_EQ(a.digital[0].changes.size(), 1u);
    EXPECT_NEAR(a.digital[0].changes[0].seconds, 0.02, 1e-9);
    EXPECT_EQ(a.digital[0].changes[0].value, 1);
    std::vector<std::string> names;
    for (size_t d = 1; d < a.digital.size(); ++d) names.push_back(a.digital[d].name);
    EXPECT_EQ(names, (std::vector<std::string>{"Word.bit0", "Word.bit1", "Word.bit2", "Word.bit7"}));
    const auto& bit2 = a.digital[3];
    EXPECT_EQ(bit2.initial, 0);
    ASSERT_EQ(bit2.changes.size(), 3u);  // on with 7, off with 128, on with 132
    const double times[] = {0.06, 0.14, 0.22};
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(bit2.changes[k].seconds, times[k], 1e-9);
        EXPECT_EQ(bit2.changes[k].value, k == 1 ? 0 : 1);
    }
}

TEST(ComtradeAnalysis, OptionsThatDoNotFitTheRecordingAreNamed) {
    RecordingIn in = Recording({Channel("IA", "A", "A", Sines({{1, 1, 0}}))});
    comtrade::Recording r;
    ASSERT_EQ(comtrade::ReadPair("t.CFG", ConfigText(in), "t.DAT", DataBytes(in), {}, r), "");
    comtrade::AnalysisOptions options;
    options.reference = "IX";
    EXPECT_EQ(comtrade::Analyser::Check(r, options), "no analog channel named 'IX' for --ref");
    options = {};
    options.sets = {{"IA", "IB"}};
    EXPECT_NE(comtrade::Analyser::Check(r, options).find("three channels"), std::string::npos);
    r.lineHz = 0;
    options = {};
    EXPECT_NE(comtrade::Analyser::Check(r, options).find("--freq"), std::string::npos);
    options.hz = 60;
    EXPECT_EQ(comtrade::Analyser::Check(r, options), "");
}
