#include "plot_selection.h"

#include <algorithm>
#include <cmath>

#include "analysis.h"

namespace vorlan_host {

namespace {

// Keeps the channels named, in the file's order.
Status KeepChannels(const std::vector<std::string>& names, comtrade::Recording& r,
                    std::vector<std::vector<double>>& rms) {
    for (const auto& name : names) {
        const bool known = std::any_of(r.analog.begin(), r.analog.end(), [&](const auto& c) { return c.name == name; }) ||
                           std::any_of(r.status.begin(), r.status.end(), [&](const auto& c) { return c.name == name; });
        if (!known) return {kExitUsage, "no channel named '" + name + "' for --channels"};
    }
    auto wanted = [&](const std::string& name) { return std::find(names.begin(), names.end(), name) != names.end(); };
    size_t kept = 0;
    for (size_t j = 0; j < r.analog.size(); ++j) {
        if (!wanted(r.analog[j].name)) continue;
        if (kept != j) {
            r.analog[kept] = r.analog[j];
            r.values[kept] = std::move(r.values[j]);
            if (!rms.empty()) rms[kept] = std::move(rms[j]);
        }
        ++kept;
    }
    r.analog.resize(kept);
    r.values.resize(kept);
    if (!rms.empty()) rms.resize(kept);
    kept = 0;
    for (size_t j = 0; j < r.status.size(); ++j) {
        if (!wanted(r.status[j].name)) continue;
        if (kept != j) {
            r.status[kept] = r.status[j];
            r.states[kept] = std::move(r.states[j]);
        }
        ++kept;
    }
    r.status.resize(kept);
    r.states.resize(kept);
    return Status::Ok();
}

template <typename T>
void Slice(std::vector<T>& v, size_t first, size_t end) {
    v = std::vector<T>(v.begin() + static_cast<long>(first), v.begin() + static_cast<long>(end));
}

// Keeps the samples from `from` to `to` seconds after the trigger.
Status KeepWindow(double from, double to, comtrade::Recording& r, std::vector<std::vector<double>>& rms) {
    const double trigger = r.TriggerSeconds();
    const double lo = std::isnan(from) ? -INFINITY : trigger + from, hi = std::isnan(to) ? INFINITY : trigger + to;
    size_t first = 0;
    while (first < r.seconds.size() && r.seconds[first] < lo - 1e-9) ++first;
    size_t end = first;
    while (end < r.seconds.size() && r.seconds[end] <= hi + 1e-9) ++end;
    if (end == first) return {kExitUsage, "no samples between --from and --to (seconds from the trigger)"};
    Slice(r.numbers, first, end);
    Slice(r.seconds, first, end);
    for (auto& v : r.values) Slice(v, first, end);
    for (auto& v : r.states) Slice(v, first, end);
    for (auto& v : rms) Slice(v, first, end);
    // The rate table as far as it concerns the samples kept.
    std::vector<comtrade::Rate> rates;
    for (comtrade::Rate rate : r.rates) {
        rate.lastSample = std::clamp<long>(rate.lastSample - static_cast<long>(first), 0, static_cast<long>(end - first));
        if (rate.lastSample > 0 || rate.hz == 0) rates.push_back(rate);
    }
    r.rates = rates;
    return Status::Ok();
}

}  // namespace

Status SelectForPlot(const PlotOptions& o, comtrade::Recording& r, std::vector<std::vector<double>>& rms) {
    rms.clear();
    if (o.rms) {
        const double hz = o.freq > 0 ? o.freq : r.lineHz;
        if (!(hz > 0)) return {kExitUsage, "the recording gives no line frequency; give it with --freq"};
        for (size_t j = 0; j < r.analog.size(); ++j) rms.push_back(comtrade::RunningRms(r, j, hz));
    }
    if (!o.channels.empty()) {
        if (Status s = KeepChannels(o.channels, r, rms); !s.ok()) return s;
    }
    if (!std::isnan(o.from) || !std::isnan(o.to)) {
        if (!std::isnan(o.from) && !std::isnan(o.to) && o.to <= o.from) return {kExitUsage, "--to must be after --from"};
        if (Status s = KeepWindow(o.from, o.to, r, rms); !s.ok()) return s;
    }
    return Status::Ok();
}

}  // namespace vorlan_host
