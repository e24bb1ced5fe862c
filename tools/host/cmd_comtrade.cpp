// SPDX-License-Identifier: Apache-2.0
// plot, info and export: what a COMTRADE recording holds, as a picture, a
// summary or a table. info and export stream the samples, so a recording of
// any size takes memory for one block only.

#include <cairo.h>
#include <sys/stat.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "comtrade_io.h"
#include "comtrade_plot.h"
#include "date_time.h"
#include "output.h"
#include "plot_selection.h"
#include "screen_text.h"
#include "status_bits.h"
#include "value_text.h"

namespace vorlan_host {

namespace {

using comtrade::NumberText;

// Lowest and highest scaled value of every analog channel, missing values left out.
struct Ranges {
    std::vector<double> lo, hi;
    std::vector<bool> any;

    void Add(const comtrade::SampleBlock& b) {
        if (lo.size() != b.values.size()) lo.assign(b.values.size(), 0), hi = lo, any.assign(b.values.size(), false);
        for (size_t j = 0; j < b.values.size(); ++j) {
            for (double v : b.values[j]) {
                if (std::isnan(v)) continue;
                if (!any[j] || v < lo[j]) lo[j] = v;
                if (!any[j] || v > hi[j]) hi[j] = v;
                any[j] = true;
            }
        }
    }
    bool Has(size_t j) const { return j < any.size() && any[j]; }
};

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// A channel's value at its resolution, as a JSON number.
nlohmann::json JsonValue(double v, int decimals) {
    return std::strtod(NumberText(v, decimals).c_str(), nullptr);
}

nlohmann::json InfoJson(const comtrade::Recording& r, const Ranges& ranges) {
    nlohmann::json rates = nlohmann::json::array();
    for (const auto& rate : r.rates) rates.push_back({rate.hz, rate.lastSample});
    nlohmann::json analog = nlohmann::json::array();
    for (size_t j = 0; j < r.analog.size(); ++j) {
        const auto& c = r.analog[j];
        const int decimals = comtrade::ChannelDecimals(r, c);
        nlohmann::json entry{{"index", c.index}, {"name", c.name}, {"phase", c.phase}, {"unit", c.unit}};
        entry["min"] = ranges.Has(j) ? JsonValue(ranges.lo[j], decimals) : nlohmann::json(nullptr);
        entry["max"] = ranges.Has(j) ? JsonValue(ranges.hi[j], decimals) : nlohmann::json(nullptr);
        analog.push_back(entry);
    }
    nlohmann::json digital = nlohmann::json::array();
    for (const auto& c : r.status) digital.push_back({{"index", c.index}, {"name", c.name}});
    return {{"station", r.station},
            {"device", r.device},
            {"revision", r.revision},
            {"format", comtrade::FormatName(r.format)},
            {"encoding", r.encoding},
            {"samples", r.samplesInFile},
            {"frequency", r.lineHz},
            {"rates", rates},
            {"timemult", r.timemult},
            {"start", comtrade::IsoText(r.startNs)},
            {"trigger", comtrade::IsoText(r.triggerNs)},
            {"analog", analog},
            {"digital", digital},
            {"warnings", r.warnings}};
}

void PrintInfo(const comtrade::Recording& r, const Ranges& ranges) {
    const int kSignificant = comtrade::kNoStep;
    std::printf("%s  %s\nrevision %d, %s data, %zu samples, texts %s\n", r.station.c_str(), r.device.c_str(),
                r.revision, comtrade::FormatName(r.format), r.samplesInFile, r.encoding.c_str());
    std::printf("sampling:");
    for (const auto& rate : r.rates) {
        std::printf(" %s Hz to sample %ld;", NumberText(rate.hz, kSignificant).c_str(), rate.lastSample);
    }
    if (!r.TimesFromRates()) std::printf(" times from the timestamps x %s", NumberText(r.timemult, kSignificant).c_str());
    std::printf("\nstart   %s\ntrigger %s\n", comtrade::IsoText(r.startNs).c_str(),
                comtrade::IsoText(r.triggerNs).c_str());
    for (size_t j = 0; j < r.analog.size(); ++j) {
        const auto& c = r.analog[j];
        const int d = comtrade::ChannelDecimals(r, c);
        const std::string range =
            ranges.Has(j) ? NumberText(ranges.lo[j], d) + " .. " + NumberText(ranges.hi[j], d) : "no values";
        std::printf("  A%-4ld %s phase %s %s %s\n", c.index, PadRight(c.name, 20).c_str(),
                    PadRight(c.phase, 3).c_str(), PadRight(c.unit, 4).c_str(), range.c_str());
    }
    for (const auto& c : r.status) std::printf("  D%-4ld %s\n", c.index, c.name.c_str());
    for (const auto& w : r.warnings) std::printf("warning: %s\n", w.c_str());
}

// The table's header: the time and every channel, analog ones with their unit.
std::string ExportHeader(const comtrade::Recording& r) {
    std::string row = "time_s";
    for (const auto& c : r.analog) row += "," + CsvField(c.unit.empty() ? c.name : c.name + "_" + c.unit);
    for (const auto& c : r.status) row += "," + CsvField(c.name);
    return row + "\n";
}

// Writes the rows of each block as it comes, times from the first sample.
class TableWriter {
public:
    TableWriter(const comtrade::Recording& r, FILE* out) : r_(r), out_(out) {}
    void Add(const comtrade::SampleBlock& b) {
        if (!started_) Start(b);
        std::string& row = row_;
        for (size_t i = 0; i < b.Size(); ++i) {
            row.clear();
            comtrade::AppendNumber(row, b.seconds[i] - first_, timeDecimals_, true);
            for (size_t j = 0; j < b.values.size(); ++j) {
                row += ',';
                comtrade::AppendNumber(row, b.values[j][i], decimals_[j]);
            }
            for (const auto& states : b.states) row += "," + std::to_string(states[i]);
            row += '\n';
            std::fwrite(row.data(), 1, row.size(), out_);
        }
    }

private:
    void Start(const comtrade::SampleBlock& b) {
        started_ = true;
        first_ = b.seconds.empty() ? 0 : b.seconds[0];
        timeDecimals_ = comtrade::TimeDecimals(r_);
        for (const auto& c : r_.analog) decimals_.push_back(comtrade::ChannelDecimals(r_, c));
        const std::string header = ExportHeader(r_);
        std::fwrite(header.data(), 1, header.size(), out_);
    }

    const comtrade::Recording& r_;
    FILE* out_;
    bool started_ = false;
    double first_ = 0;
    int timeDecimals_ = 0;
    std::vector<int> decimals_;
    std::string row_;
};

// The names of status word bits: the file --bits names, else the first .bits
// file beside the recording. Lines it can't read become warnings.
Status ReadPlotBits(const PlotOptions& o, std::vector<std::string>& warnings, BitNames& bits) {
    std::vector<std::string> candidates = BitsFileCandidates(o.cfg);
    if (!o.bits.empty()) candidates = {o.bits};
    for (const std::string& path : candidates) {
        struct stat st {};
        if (o.bits.empty() && ::stat(path.c_str(), &st) != 0) continue;
        std::vector<std::string> found;
        std::string error = ReadBitNames(path, bits, found);
        if (!error.empty()) return {kExitFile, error};
        for (const auto& w : found) std::fprintf(stderr, "warning: %s\n", w.c_str());
        warnings.insert(warnings.end(), found.begin(), found.end());
        break;
    }
    return Status::Ok();
}

}  // namespace

int RunPlot(const CommonOptions& common, const PlotOptions& o) {
    comtrade::Recording recording;
    if (Status s = ReadWhole(o.cfg, o.read, recording); !s.ok()) return Fail(s);
    std::vector<std::vector<double>> rms;
    if (Status s = SelectForPlot(o, recording, rms); !s.ok()) return Fail(s);
    std::string base = o.out;
    if (base.empty()) {
        const size_t dot = o.cfg.find_last_of('.');
        const size_t slash = o.cfg.find_last_of('/');
        const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
        base = hasExt ? o.cfg.substr(0, dot) : o.cfg;
    }
    BitNames bits;
    if (Status s = ReadPlotBits(o, recording.warnings, bits); !s.ok()) return Fail(s);
    PlotStyle style;
    style.width = o.width;
    style.scalePerChannel = o.scale == "channel";
    style.rms = o.rms ? &rms : nullptr;
    style.bits = &bits;
    std::vector<std::string> files;
    const std::string drawn = PlotComtrade(recording, base, style, files);
    // Hand back the font caches, so leak checkers see only what is ours.
    cairo_debug_reset_static_data();
    FcFini();
    if (!drawn.empty()) return Fail({kExitFile, drawn});
    if (common.json) {
        EmitJson("plot", {{"svg", base + ".svg"}, {"png", base + ".png"}, {"files", files},
                          {"channels", recording.analog.size() + recording.status.size()},
                          {"samples", recording.SampleCount()}, {"warnings", recording.warnings}});
    } else {
        std::printf("%s: %zu analog and %zu digital channels, %zu samples\n", recording.station.c_str(),
                    recording.analog.size(), recording.status.size(), recording.SampleCount());
        for (const auto& file : files) std::printf("  %s\n", file.c_str());
    }
    return kExitOk;
}

int RunInfo(const CommonOptions& common, const InfoOptions& o) {
    comtrade::Recording recording;
    Ranges ranges;
    const comtrade::BlockSink sink = [&](const comtrade::SampleBlock& b) { ranges.Add(b); };
    if (Status s = ReadStreamed(o.file, o.read, recording, sink, false); !s.ok()) return Fail(s);
    if (common.json) EmitJson("info", InfoJson(recording, ranges));
    else PrintInfo(recording, ranges);
    return kExitOk;
}

int RunExport(const CommonOptions&, const ExportOptions& o) {
    // A table goes to a temporary name first, so a refused file leaves none behind.
    const std::string part = o.out + ".part";
    FILE* out = o.out.empty() ? stdout : std::fopen(part.c_str(), "wb");
    if (!out) return Fail({kExitFile, "can't write " + o.out});
    static char buffer[1 << 20];
    std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
    comtrade::Recording r;
    TableWriter table(r, out);
    const comtrade::BlockSink sink = [&](const comtrade::SampleBlock& b) { table.Add(b); };
    Status s = ReadStreamed(o.file, o.read, r, sink, true);
    if (s.ok() && r.samplesInFile == 0) std::fputs(ExportHeader(r).c_str(), out);
    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    if (out != stdout) {
        const bool closed = std::fclose(out) == 0;
        if (s.ok() && (!written || !closed || std::rename(part.c_str(), o.out.c_str()) != 0)) {
            s = {kExitFile, "can't write " + o.out};
        }
        if (!s.ok()) std::remove(part.c_str());
    } else if (s.ok() && !written) {
        s = {kExitFile, "can't write the table"};
    }
    return s.ok() ? kExitOk : Fail(s);
}

}  // namespace vorlan_host
