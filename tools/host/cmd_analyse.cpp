// analyse: what an engineer reads from a fault recording (RMS, phasors,
// sequence components, harmonics, digital changes), as text, one JSON object
// or the RMS and phasor series as a CSV table. The samples are streamed.

#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "analysis.h"
#include "commands.h"
#include "comtrade_io.h"
#include "output.h"
#include "screen_text.h"

namespace vorlan_host {

namespace {

using comtrade::Analysis;
using comtrade::Recording;

// Options that don't fit the recording, found once its configuration is read.
struct BadOptions : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::vector<std::string> SplitNames(const std::string& text) {
    std::vector<std::string> names;
    size_t pos = 0;
    for (;;) {
        const size_t comma = text.find(',', pos);
        names.push_back(text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
        if (comma == std::string::npos) return names;
        pos = comma + 1;
    }
}

std::string Num(double v, const char* format = "%.6g") {
    if (std::isnan(v)) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

nlohmann::json Json(double v) { return std::isnan(v) ? nlohmann::json(nullptr) : nlohmann::json(v); }

nlohmann::json JsonPhasor(const comtrade::Phasor& p) {
    return {{"magnitude", Json(p.magnitude)}, {"angle", Json(p.degrees)}};
}

std::string PhasorText(const comtrade::Phasor& p) { return Num(p.magnitude) + " at " + Num(p.degrees, "%.2f") + " deg"; }

std::string SetNames(const Recording& r, const comtrade::SetResult& set) {
    std::string names;
    for (size_t j : set.channels) names += (names.empty() ? "" : ",") + r.analog[j].name;
    return names;
}

nlohmann::json ChannelsJson(const Recording& r, const Analysis& a) {
    nlohmann::json channels = nlohmann::json::array();
    for (size_t j = 0; j < r.analog.size(); ++j) {
        const auto& c = a.channels[j];
        nlohmann::json harmonics = nlohmann::json::array();
        for (size_t h = 0; h < c.harmonics.size(); ++h) {
            const double percent = c.harmonics[h] / c.fundamental.magnitude * 100;
            harmonics.push_back({{"order", comtrade::kFirstHarmonic + static_cast<int>(h)},
                                 {"rms", Json(c.harmonics[h])}, {"percent", Json(percent)}});
        }
        channels.push_back({{"name", r.analog[j].name}, {"unit", r.analog[j].unit},
                            {"values", r.analog[j].ps == 'P' ? "primary" : "secondary"}, {"rms", Json(c.rms)},
                            {"phasor", JsonPhasor(c.fundamental)}, {"thd", Json(c.thd)}, {"harmonics", harmonics}});
    }
    return channels;
}

nlohmann::json AnalysisJson(const Recording& r, const Analysis& a) {
    nlohmann::json sets = nlohmann::json::array();
    for (const auto& s : a.sets) {
        sets.push_back({{"channels", SetNames(r, s)}, {"unit", r.analog[s.channels[0]].unit},
                        {"zero", JsonPhasor(s.zero)}, {"positive", JsonPhasor(s.positive)},
                        {"negative", JsonPhasor(s.negative)}});
    }
    nlohmann::json digital = nlohmann::json::array();
    for (const auto& d : a.digital) {
        nlohmann::json changes = nlohmann::json::array();
        for (const auto& c : d.changes) changes.push_back({{"time", c.seconds}, {"value", c.value}});
        digital.push_back({{"name", d.name}, {"initial", d.initial}, {"changes", changes}, {"more", d.more}});
    }
    nlohmann::json series{{"time", a.series.seconds}, {"channels", nlohmann::json::array()}};
    for (size_t j = 0; j < r.analog.size(); ++j) {
        auto list = [](const std::vector<double>& v) {
            nlohmann::json out = nlohmann::json::array();
            for (double x : v) out.push_back(Json(x));
            return out;
        };
        series["channels"].push_back({{"name", r.analog[j].name}, {"rms", list(a.series.rms[j])},
                                      {"magnitude", list(a.series.magnitude[j])}, {"angle", list(a.series.degrees[j])}});
    }
    return {{"station", r.station}, {"device", r.device}, {"frequency", a.hz},
            {"frequency_from", a.hzFromFile ? "file" : "--freq"},
            {"reference", r.analog.empty() ? "" : r.analog[a.reference].name}, {"at", a.at},
            {"window_end", Json(a.windowEnd)}, {"channels", ChannelsJson(r, a)}, {"sets", sets},
            {"digital", digital}, {"series", series}, {"warnings", r.warnings}};
}

void PrintChannels(const Recording& r, const Analysis& a) {
    std::printf("%s %s %s %12s  %-24s %8s\n", PadRight("channel", 16).c_str(), PadRight("unit", 5).c_str(),
                PadRight("values", 9).c_str(), "RMS", "fundamental", "THD %");
    for (size_t j = 0; j < r.analog.size(); ++j) {
        const auto& c = a.channels[j];
        std::printf("%s %s %s %12s  %-24s %8s\n", PadRight(r.analog[j].name, 16).c_str(),
                    PadRight(r.analog[j].unit, 5).c_str(), r.analog[j].ps == 'P' ? "primary  " : "secondary",
                    Num(c.rms).c_str(), PhasorText(c.fundamental).c_str(), Num(c.thd * 100, "%.2f").c_str());
    }
    std::printf("\nharmonics, %% of the fundamental (- above half the sampling rate):\n%s", PadRight("channel", 16).c_str());
    for (int h = comtrade::kFirstHarmonic; h <= comtrade::kLastHarmonic; ++h) std::printf(" %6d", h);
    std::printf("\n");
    for (size_t j = 0; j < r.analog.size(); ++j) {
        const auto& c = a.channels[j];
        std::printf("%s", PadRight(r.analog[j].name, 16).c_str());
        for (double m : c.harmonics) std::printf(" %6s", Num(m / c.fundamental.magnitude * 100, "%.2f").c_str());
        std::printf("\n");
    }
}

void PrintSeries(const Recording& r, const Analysis& a) {
    constexpr size_t kRows = 50;
    const size_t rows = a.series.seconds.size();
    std::printf("\none-cycle RMS, one row per cycle (seconds from the trigger):\n%10s", "time_s");
    for (const auto& c : r.analog) std::printf(" %s", PadRight(c.name, 12).c_str());
    std::printf("\n");
    const size_t step = rows > kRows ? (rows + kRows - 1) / kRows : 1;
    for (size_t i = 0; i < rows; i += step) {
        std::printf("%10s", Num(a.series.seconds[i], "%.4f").c_str());
        for (size_t j = 0; j < r.analog.size(); ++j) std::printf(" %-12s", Num(a.series.rms[j][i]).c_str());
        std::printf("\n");
    }
    if (step > 1) std::printf("(every %zu. of %zu rows; --csv gives them all)\n", step, rows);
}

void PrintAnalysis(const Recording& r, const Analysis& a) {
    std::printf("%s  %s\n%s Hz (%s); phasors at %s s after the trigger (window ending at %s s), angles referred to %s\n\n",
                r.station.c_str(), r.device.c_str(), Num(a.hz).c_str(), a.hzFromFile ? "from the file" : "--freq",
                Num(a.at).c_str(), Num(a.windowEnd, "%.6f").c_str(),
                r.analog.empty() ? "-" : r.analog[a.reference].name.c_str());
    if (!r.analog.empty()) PrintChannels(r, a);
    for (const auto& s : a.sets) {
        std::printf("\nthree-phase set %s (%s):\n  zero     %s\n  positive %s\n  negative %s\n", SetNames(r, s).c_str(),
                    r.analog[s.channels[0]].unit.c_str(), PhasorText(s.zero).c_str(),
                    PhasorText(s.positive).c_str(), PhasorText(s.negative).c_str());
    }
    if (!a.digital.empty()) std::printf("\ndigital changes (seconds from the trigger):\n");
    for (const auto& d : a.digital) {
        std::printf("  %s: %d", d.name.c_str(), d.initial);
        for (const auto& c : d.changes) std::printf(", %s -> %d", Num(c.seconds, "%.6f").c_str(), c.value);
        if (d.more > 0) std::printf(", and %zu more changes", d.more);
        std::printf("\n");
    }
    if (!r.analog.empty()) PrintSeries(r, a);
    for (const auto& w : r.warnings) std::printf("warning: %s\n", w.c_str());
}

void WriteSeriesCsv(const Recording& r, const Analysis& a, FILE* out) {
    std::string row = "time_s";
    for (const auto& c : r.analog) {
        const std::string unit = c.unit.empty() ? "" : "_" + c.unit;
        row += "," + c.name + "_rms" + unit + "," + c.name + "_magnitude" + unit + "," + c.name + "_angle_deg";
    }
    std::fprintf(out, "%s\n", row.c_str());
    for (size_t i = 0; i < a.series.seconds.size(); ++i) {
        row = Num(a.series.seconds[i], "%.9g");
        for (size_t j = 0; j < r.analog.size(); ++j) {
            for (double v : {a.series.rms[j][i], a.series.magnitude[j][i], a.series.degrees[j][i]}) {
                row += ",";
                if (!std::isnan(v)) row += Num(v, "%.9g");
            }
        }
        std::fprintf(out, "%s\n", row.c_str());
    }
}

Status Analyse(const AnalyseOptions& o, Recording& r, Analysis& result) {
    comtrade::AnalysisOptions options;
    options.hz = o.freq;
    options.atGiven = !std::isnan(o.at);
    options.at = options.atGiven ? o.at : 0;
    options.reference = o.reference;
    for (const auto& set : o.sets) options.sets.push_back(SplitNames(set));
    std::unique_ptr<comtrade::Analyser> analyser;
    auto start = [&] {
        if (analyser) return;
        if (std::string e = comtrade::Analyser::Check(r, options); !e.empty()) throw BadOptions(e);
        analyser = std::make_unique<comtrade::Analyser>(r, options);
    };
    const comtrade::BlockSink sink = [&](const comtrade::SampleBlock& b) {
        start();
        analyser->Add(b);
    };
    try {
        if (Status s = ReadStreamed(o.file, o.read, r, sink, o.csv); !s.ok()) return s;
        start();
    } catch (const BadOptions& e) {
        return {kExitUsage, e.what()};
    }
    result = analyser->Finish();
    return Status::Ok();
}

}  // namespace

int RunAnalyse(const CommonOptions& common, const AnalyseOptions& o) {
    Recording r;
    Analysis a;
    if (Status s = Analyse(o, r, a); !s.ok()) return Fail(s);
    if (common.json) {
        EmitJson("analysis", AnalysisJson(r, a));
    } else if (o.csv) {
        FILE* out = o.out.empty() ? stdout : std::fopen(o.out.c_str(), "wb");
        if (!out) return Fail({kExitFile, "can't write " + o.out});
        WriteSeriesCsv(r, a, out);
        const bool written = std::fflush(out) == 0 && !std::ferror(out);
        if ((out != stdout && std::fclose(out) != 0) || !written) return Fail({kExitFile, "can't write the table"});
    } else {
        PrintAnalysis(r, a);
    }
    return kExitOk;
}

}  // namespace vorlan_host
