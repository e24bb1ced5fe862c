// plot, info and export: what a COMTRADE recording holds, as a picture, a
// summary or a table.

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "output.h"
#include "comtrade_plot.h"
#include "date_time.h"
#include "reader.h"

namespace vorlan_host {

namespace {

Status Read(const std::string& path, const std::string& encoding, comtrade::Recording& r) {
    comtrade::ReadOptions options;
    options.encoding = encoding;
    if (std::string e = comtrade::ReadRecording(path, options, r); !e.empty()) return {kExitFile, e};
    return Status::Ok();
}

// The shortest text that reads back as the same double.
std::string Exact(double v) {
    char text[40];
    for (int digits : {15, 16, 17}) {
        std::snprintf(text, sizeof text, "%.*g", digits, v);
        if (std::strtod(text, nullptr) == v) break;
    }
    return text;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// Lowest and highest scaled value of a channel, missing values left out.
bool Range(const std::vector<double>& values, double& lo, double& hi) {
    bool any = false;
    for (double v : values) {
        if (std::isnan(v)) continue;
        if (!any || v < lo) lo = v;
        if (!any || v > hi) hi = v;
        any = true;
    }
    return any;
}

nlohmann::json InfoJson(const comtrade::Recording& r) {
    nlohmann::json rates = nlohmann::json::array();
    for (const auto& rate : r.rates) rates.push_back({rate.hz, rate.lastSample});
    nlohmann::json analog = nlohmann::json::array();
    for (size_t j = 0; j < r.analog.size(); ++j) {
        const auto& c = r.analog[j];
        nlohmann::json entry{{"index", c.index}, {"name", c.name}, {"phase", c.phase}, {"unit", c.unit}};
        double lo = 0, hi = 0;
        const bool any = Range(r.values[j], lo, hi);
        entry["min"] = any ? nlohmann::json(lo) : nlohmann::json(nullptr);
        entry["max"] = any ? nlohmann::json(hi) : nlohmann::json(nullptr);
        analog.push_back(entry);
    }
    nlohmann::json digital = nlohmann::json::array();
    for (const auto& c : r.status) digital.push_back({{"index", c.index}, {"name", c.name}});
    return {{"station", r.station},
            {"device", r.device},
            {"revision", r.revision},
            {"format", comtrade::FormatName(r.format)},
            {"encoding", r.encoding},
            {"samples", r.SampleCount()},
            {"frequency", r.lineHz},
            {"rates", rates},
            {"timemult", r.timemult},
            {"start", comtrade::IsoText(r.startNs)},
            {"trigger", comtrade::IsoText(r.triggerNs)},
            {"analog", analog},
            {"digital", digital}};
}

void PrintInfo(const comtrade::Recording& r) {
    std::printf("%s  %s\nrevision %d, %s data, %zu samples, texts %s\n", r.station.c_str(), r.device.c_str(),
                r.revision, comtrade::FormatName(r.format), r.SampleCount(), r.encoding.c_str());
    std::printf("sampling:");
    for (const auto& rate : r.rates) std::printf(" %s Hz to sample %ld;", Exact(rate.hz).c_str(), rate.lastSample);
    if (!r.TimesFromRates()) std::printf(" times from the timestamps x %s", Exact(r.timemult).c_str());
    std::printf("\nstart   %s\ntrigger %s\n", comtrade::IsoText(r.startNs).c_str(),
                comtrade::IsoText(r.triggerNs).c_str());
    for (size_t j = 0; j < r.analog.size(); ++j) {
        const auto& c = r.analog[j];
        double lo = 0, hi = 0;
        const bool any = Range(r.values[j], lo, hi);
        std::printf("  A%-4ld %-20s phase %-3s %-4s %s\n", c.index, c.name.c_str(), c.phase.c_str(), c.unit.c_str(),
                    any ? (Exact(lo) + " .. " + Exact(hi)).c_str() : "no values");
    }
    for (const auto& c : r.status) std::printf("  D%-4ld %s\n", c.index, c.name.c_str());
}

}  // namespace

int RunPlot(const CommonOptions& common, const PlotOptions& o) {
    comtrade::Recording recording;
    if (Status s = Read(o.cfg, o.encoding, recording); !s.ok()) return Fail(s);
    std::string base = o.out;
    if (base.empty()) {
        const size_t dot = o.cfg.find_last_of('.');
        const size_t slash = o.cfg.find_last_of('/');
        const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
        base = hasExt ? o.cfg.substr(0, dot) : o.cfg;
    }
    std::vector<std::string> files;
    const std::string drawn = PlotComtrade(recording, base, o.width, files);
    // Hand back the font caches, so leak checkers see only what is ours.
    cairo_debug_reset_static_data();
    FcFini();
    if (!drawn.empty()) return Fail({kExitFile, drawn});
    if (common.json) {
        EmitJson("plot", {{"svg", base + ".svg"}, {"png", base + ".png"}, {"files", files},
                          {"channels", recording.analog.size() + recording.status.size()},
                          {"samples", recording.SampleCount()}});
    } else {
        std::printf("%s: %zu analog and %zu digital channels, %zu samples\n", recording.station.c_str(),
                    recording.analog.size(), recording.status.size(), recording.SampleCount());
        for (const auto& file : files) std::printf("  %s\n", file.c_str());
    }
    return kExitOk;
}

int RunInfo(const CommonOptions& common, const InfoOptions& o) {
    comtrade::Recording recording;
    if (Status s = Read(o.file, o.encoding, recording); !s.ok()) return Fail(s);
    if (common.json) EmitJson("info", InfoJson(recording));
    else PrintInfo(recording);
    return kExitOk;
}

int RunExport(const CommonOptions&, const ExportOptions& o) {
    comtrade::Recording r;
    if (Status s = Read(o.file, o.encoding, r); !s.ok()) return Fail(s);
    FILE* out = o.out.empty() ? stdout : std::fopen(o.out.c_str(), "wb");
    if (!out) return Fail({kExitFile, "can't write " + o.out});
    std::string row = "time";
    for (const auto& c : r.analog) row += "," + CsvField(c.name);
    for (const auto& c : r.status) row += "," + CsvField(c.name);
    row += "\n";
    std::fputs(row.c_str(), out);
    for (size_t i = 0; i < r.SampleCount(); ++i) {
        row = Exact(r.seconds[i] - r.seconds[0]);
        for (const auto& values : r.values) {
            row += ',';
            if (!std::isnan(values[i])) row += Exact(values[i]);
        }
        for (const auto& states : r.states) row += "," + std::to_string(states[i]);
        row += "\n";
        std::fputs(row.c_str(), out);
    }
    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    if (out != stdout && std::fclose(out) != 0) return Fail({kExitFile, "can't write " + o.out});
    if (!written) return Fail({kExitFile, "can't write " + (o.out.empty() ? std::string("the table") : o.out)});
    return kExitOk;
}

}  // namespace vorlan_host
