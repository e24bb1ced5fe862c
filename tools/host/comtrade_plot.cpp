// SPDX-License-Identifier: Apache-2.0
#include "comtrade_plot.h"

#include <cairo-svg.h>
#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <map>

#include "date_time.h"
#include "svg_text.h"

namespace vorlan_host {

namespace {

using comtrade::Recording;

constexpr double kHeader = 84;    // title, subtitle, then the trigger's label
constexpr double kFooter = 44;
constexpr double kLeft = 190;     // channel labels
constexpr double kRight = 90;     // scale labels
constexpr double kAnalogLane = 64;
constexpr double kDigitalLane = 40;
constexpr double kBitLane = 22;
constexpr double kLegendLane = 20;
// cairo's image surfaces stop at 32767 pixels; pages stay well below.
constexpr double kMaxPageHeight = 16000;
constexpr int kMaxWidth = 32767;
constexpr const char* kFont = "WenQuanYi Micro Hei";

struct Frame {
    double width, height, plotLeft, plotRight;
    double t0, t1;      // seconds from the start time
    double origin = 0;  // the time axis's zero: the trigger, else the start
    const std::vector<std::vector<double>>* rms = nullptr;
    const BitNames* bits = nullptr;
    double X(double t) const { return plotLeft + (t - t0) / (t1 - t0) * (plotRight - plotLeft); }
};

// One row of the picture: an analog lane, a status lane, one bit of a status
// word, or the legend under a status word's bits.
struct Row {
    enum Kind { kAnalog, kStatus, kBit, kLegend } kind;
    size_t channel;
    int bit = -1;
    double Height() const {
        switch (kind) {
            case kAnalog: return kAnalogLane;
            case kStatus: return kDigitalLane;
            case kBit: return kBitLane;
            case kLegend: return kLegendLane;
        }
        return 0;
    }
};

struct Page {
    std::vector<Row> rows;
    std::map<size_t, double> scales;  // analog channel -> value at the lane's edge
    double Height() const {
        double h = kHeader + kFooter;
        for (const Row& row : rows) h += row.Height();
        return h;
    }
};

std::vector<Row> Rows(const Recording& r) {
    std::vector<Row> rows;
    for (size_t j = 0; j < r.analog.size(); ++j) rows.push_back({Row::kAnalog, j});
    for (size_t w = 0; w < r.status.size(); ++w) {
        const uint32_t changing = IsStatusWord(r.states[w]) ? ChangingBits(r.states[w]) : 0;
        if (changing == 0) {
            rows.push_back({Row::kStatus, w});
            continue;
        }
        for (int bit = 0; bit < 32; ++bit) {
            if (changing >> bit & 1u) rows.push_back({Row::kBit, w, bit});
        }
        rows.push_back({Row::kLegend, w});
    }
    return rows;
}

std::vector<Page> Paginate(const Recording& r) {
    std::vector<Page> pages(1);
    for (const Row& row : Rows(r)) {
        // A legend stays with the bit rows above it; pages have room to spare for it.
        const bool full = pages.back().Height() + row.Height() > kMaxPageHeight;
        if (!pages.back().rows.empty() && full && row.kind != Row::kLegend) pages.emplace_back();
        pages.back().rows.push_back(row);
    }
    return pages;
}

double Peak(const Recording& r, const Frame& f, size_t j) {
    double peak = 0;
    for (double v : r.values[j]) {
        if (std::isfinite(v)) peak = std::max(peak, std::fabs(v));
    }
    if (f.rms && j < f.rms->size()) {
        for (double v : (*f.rms)[j]) {
            if (std::isfinite(v)) peak = std::max(peak, v);
        }
    }
    return peak;
}

// The smallest 1, 2, 2.5 or 5 times a power of ten at or above `v`.
double NiceCeil(double v) {
    if (!(v > 0) || !std::isfinite(v)) return 1;
    const double p = std::pow(10, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 2.5, 5.0}) {
        if (m * p >= v * (1 - 1e-12)) return m * p;
    }
    return 10 * p;
}

// The scale of every analog lane on a page: channels of one unit share the
// largest of their peaks, so a small current looks small beside a fault
// current; channels without a unit, or all with `perChannel`, keep their own.
void SetScales(const Recording& r, const Frame& f, bool perChannel, Page& page) {
    std::map<std::string, double> unitPeak;
    for (const Row& row : page.rows) {
        if (row.kind != Row::kAnalog) continue;
        const double peak = Peak(r, f, row.channel);
        page.scales[row.channel] = peak;
        const std::string& unit = r.analog[row.channel].unit;
        if (!perChannel && !unit.empty()) unitPeak[unit] = std::max(unitPeak[unit], peak);
    }
    for (auto& [j, scale] : page.scales) {
        const std::string& unit = r.analog[j].unit;
        if (!perChannel && !unit.empty()) scale = unitPeak[unit];
        scale = NiceCeil(scale);
    }
}

// Where a page drawn for the SVG collects its labels (cairo user data);
// without it, labels are drawn as glyphs, as the PNG needs them.
const cairo_user_data_key_t kSvgTexts{};

double TextWidth(cairo_t* cr, const std::string& utf8, double size) {
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, utf8.c_str(), &e);
    return e.x_advance;
}

void Text(cairo_t* cr, double x, double y, const std::string& utf8, double size, bool right = false) {
    auto* texts = static_cast<std::vector<SvgText>*>(cairo_get_user_data(cr, &kSvgTexts));
    if (texts) {
        double red = 0, green = 0, blue = 0, alpha = 1;
        cairo_pattern_get_rgba(cairo_get_source(cr), &red, &green, &blue, &alpha);
        texts->push_back({x, y, size, right, red, green, blue, utf8});
        return;
    }
    const double width = TextWidth(cr, utf8, size);
    cairo_move_to(cr, right ? x - width : x, y);
    cairo_show_text(cr, utf8.c_str());
}

std::string Number(double v) {
    char b[32];
    if (std::fabs(v) >= 1000 || v == 0) std::snprintf(b, sizeof b, "%.0f", v);
    else std::snprintf(b, sizeof b, "%.3g", v);
    return b;
}

std::string RatesText(const Recording& r) {
    if (!r.TimesFromRates()) return "times from the timestamps x " + Number(r.timemult);
    std::string text;
    for (const auto& rate : r.rates) {
        text += (text.empty() ? "" : ", ") + Number(rate.hz) + " Hz to #" + std::to_string(rate.lastSample);
    }
    return text;
}

// A trace through finite values, broken at missing ones, collapsed to the
// lowest and highest value per pixel column; a lone value becomes a dot.
class Trace {
public:
    explicit Trace(cairo_t* cr) : cr_(cr) {}
    void Add(double x, double y) {
        const long col = std::lround(std::floor(x));
        if (count_ > 0 && col == col_) {
            mn_ = std::min(mn_, y), mx_ = std::max(mx_, y), last_ = y;
            ++inColumn_;
            ++count_;
            return;
        }
        Flush();
        col_ = col, x_ = x, first_ = mn_ = mx_ = last_ = y;
        inColumn_ = 1;
        ++count_;
    }
    void Break() {
        Flush();
        if (count_ == 1) {
            cairo_new_sub_path(cr_);
            cairo_arc(cr_, x_, first_, 2.2, 0, 2 * M_PI);
            cairo_fill(cr_);
        } else if (count_ > 1) {
            cairo_stroke(cr_);
        }
        count_ = 0;
        started_ = false;
    }

private:
    void Flush() {
        if (count_ == 0 || inColumn_ == 0) return;
        Point(x_, first_);
        if (inColumn_ > 1) {
            Point(x_, mn_);
            Point(x_, mx_);
            Point(x_, last_);
        }
        inColumn_ = 0;
    }
    void Point(double x, double y) {
        if (!started_) cairo_move_to(cr_, x, y);
        else cairo_line_to(cr_, x, y);
        started_ = true;
    }

    cairo_t* cr_;
    long col_ = LONG_MIN;
    double x_ = 0, first_ = 0, mn_ = 0, mx_ = 0, last_ = 0;
    size_t inColumn_ = 0, count_ = 0;
    bool started_ = false;
};

double NiceStep(double span) {
    const double raw = span / 10;
    const double p = std::pow(10, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * p >= raw) return m * p;
    }
    return 10 * p;
}

// The one-cycle RMS as a dark dashed trace over the samples.
void DrawRms(cairo_t* cr, const Recording& r, const Frame& f, const std::vector<double>& rms, double mid,
             double scale) {
    const double dash[] = {5, 2};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
    cairo_set_line_width(cr, 1.4);
    Trace trace(cr);
    for (size_t i = 0; i < rms.size() && i < r.seconds.size(); ++i) {
        if (std::isnan(rms[i])) trace.Break();
        else trace.Add(f.X(r.seconds[i]), mid - rms[i] * scale);
    }
    trace.Break();
    cairo_set_dash(cr, nullptr, 0, 0);
}

// A scale's value with the channel's unit: "+100 A".
std::string ScaleText(double v, const std::string& unit) { return Number(v) + (unit.empty() ? "" : " " + unit); }

void DrawLaneBackground(cairo_t* cr, const Frame& f, const Row& row, double y) {
    if (row.kind == Row::kLegend) return;
    if (row.kind == Row::kAnalog) {
        const size_t j = row.channel;
        cairo_set_source_rgb(cr, j % 2 ? 0.97 : 0.94, j % 2 ? 0.97 : 0.95, j % 2 ? 0.97 : 0.98);
    } else {
        cairo_set_source_rgb(cr, 0.93, 0.96, 0.93);
    }
    cairo_rectangle(cr, f.plotLeft, y, f.plotRight - f.plotLeft, row.Height());
    cairo_fill(cr);
}

void DrawAnalog(cairo_t* cr, const Recording& r, const Frame& f, size_t j, double y, double scaleValue) {
    static const double colours[][3] = {{0.80, 0.55, 0.00}, {0.10, 0.60, 0.10}, {0.85, 0.10, 0.10},
                                        {0.30, 0.30, 0.30}, {0.05, 0.35, 0.75}, {0.55, 0.20, 0.65}};
    const auto& values = r.values[j];
    const double mid = y + kAnalogLane / 2;
    const std::vector<double>* rms = f.rms && j < f.rms->size() ? &(*f.rms)[j] : nullptr;
    const double scale = (kAnalogLane / 2 - 6) / scaleValue;
    // The zero line, and a light line at half the scale either side.
    cairo_set_line_width(cr, 0.5);
    for (double level : {-0.5, 0.0, 0.5}) {
        const double shade = level == 0 ? 0.75 : 0.86;
        cairo_set_source_rgb(cr, shade, shade, shade);
        cairo_move_to(cr, f.plotLeft, mid - level * scaleValue * scale);
        cairo_line_to(cr, f.plotRight, mid - level * scaleValue * scale);
        cairo_stroke(cr);
    }
    const auto& c = colours[j % 6];
    cairo_set_source_rgb(cr, c[0], c[1], c[2]);
    cairo_set_line_width(cr, 1.2);
    Trace trace(cr);
    for (size_t i = 0; i < values.size(); ++i) {
        if (std::isnan(values[i])) trace.Break();
        else trace.Add(f.X(r.seconds[i]), mid - values[i] * scale);
    }
    trace.Break();
    if (rms) DrawRms(cr, r, f, *rms, mid, scale);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    const auto& ch = r.analog[j];
    std::string label = ch.name.empty() ? "channel " + std::to_string(j + 1) : ch.name;
    if (!ch.unit.empty()) label += " (" + ch.unit + ")";
    if (rms) label += ", RMS";
    Text(cr, 12, mid + 5, label, 13);
    Text(cr, f.width - 8, y + 14, "+" + ScaleText(scaleValue, ch.unit), 10, true);
    Text(cr, f.width - 8, y + kAnalogLane - 4, "-" + ScaleText(scaleValue, ch.unit), 10, true);
}

// A step trace of `level(sample)` between the samples' times.
template <typename Level>
void DrawSteps(cairo_t* cr, const Recording& r, const Frame& f, size_t count, Level level) {
    for (size_t i = 0; i < count; ++i) {
        const double px = f.X(r.seconds[i]);
        if (i == 0) cairo_move_to(cr, px, level(i));
        else cairo_line_to(cr, px, level(i));  // step: the change shows at this sample
        if (i + 1 < count) cairo_line_to(cr, f.X(r.seconds[i + 1]), level(i));
    }
    if (count == 1) {
        cairo_arc(cr, f.X(r.seconds[0]), level(0), 2.2, 0, 2 * M_PI);
        cairo_fill(cr);
    }
    cairo_stroke(cr);
}

std::string StatusName(const Recording& r, size_t w) {
    return r.status[w].name.empty() ? "status " + std::to_string(w + 1) : r.status[w].name;
}

void DrawStatus(cairo_t* cr, const Recording& r, const Frame& f, size_t w, double y) {
    const auto& states = r.states[w];
    long high = 1;
    for (int32_t v : states) high = std::max(high, static_cast<long>(v));
    const double base = y + kDigitalLane - 6, top = y + 8;
    cairo_set_source_rgb(cr, 0.1, 0.45, 0.2);
    cairo_set_line_width(cr, 1.5);
    DrawSteps(cr, r, f, states.size(), [&](size_t i) {
        return base - (base - top) * static_cast<double>(std::max<int32_t>(states[i], 0)) / static_cast<double>(high);
    });
    // The value at every change.
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    double lastLabel = -1e9;
    for (size_t i = 0; i < states.size(); ++i) {
        if (i > 0 && states[i] == states[i - 1]) continue;
        const double px = f.X(r.seconds[i]);
        if (px - lastLabel < 18) continue;  // crowded: leave the trace to speak
        char hex[16];
        std::snprintf(hex, sizeof hex, "%02lX", static_cast<unsigned long>(static_cast<uint32_t>(states[i])));
        Text(cr, px + 2, top - 1, hex, 9);
        lastLabel = px;
    }
    Text(cr, 12, y + kDigitalLane / 2 + 5, StatusName(r, w) + " (digital)", 13);
}

// One bit of a status word: low at the lane's foot, high near its top.
void DrawBit(cairo_t* cr, const Recording& r, const Frame& f, size_t w, int bit, double y) {
    const auto& states = r.states[w];
    const double base = y + kBitLane - 4, top = y + 5;
    cairo_set_source_rgb(cr, 0.1, 0.45, 0.2);
    cairo_set_line_width(cr, 1.5);
    DrawSteps(cr, r, f, states.size(),
              [&](size_t i) { return (static_cast<uint32_t>(states[i]) >> bit & 1u) ? top : base; });
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    Text(cr, 12, y + kBitLane / 2 + 4, StatusName(r, w) + ".bit" + std::to_string(bit), 11);
}

// What the bit rows of a status word above mean: their names, else their numbers.
void DrawLegend(cairo_t* cr, const Recording& r, const Frame& f, size_t w, double y) {
    const std::string name = StatusName(r, w);
    const uint32_t changing = ChangingBits(r.states[w]);
    std::string text;
    for (int bit = 0; bit < 32; ++bit) {
        if (!(changing >> bit & 1u)) continue;
        const std::string bitName = f.bits ? f.bits->Name(r.status[w].name, bit) : std::string();
        text += (text.empty() ? "" : ", ") + std::string("bit") + std::to_string(bit);
        if (!bitName.empty()) text += " " + bitName;
    }
    cairo_set_source_rgb(cr, 0.25, 0.25, 0.25);
    Text(cr, f.plotLeft, y + kLegendLane - 6, name + " is a status word; rows for the bits that change: " + text, 11);
}

void DrawHeading(cairo_t* cr, const Recording& r, size_t pageNo, size_t pages) {
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    std::string title = r.station + "  " + r.device;
    if (pages > 1) title += "   page " + std::to_string(pageNo + 1) + " of " + std::to_string(pages);
    Text(cr, 16, 28, title, 20);
    Text(cr, 16, 50,
         "start " + comtrade::IsoText(r.startNs) + "   trigger " + comtrade::IsoText(r.triggerNs) + "   " +
             RatesText(r) + ", " + std::to_string(r.SampleCount()) + " samples",
         12);
}

// The time ticks in milliseconds from the axis's zero, within the frame.
std::vector<double> TimeTicks(const Frame& f) {
    const double lo = (f.t0 - f.origin) * 1000, hi = (f.t1 - f.origin) * 1000;
    const double step = NiceStep(hi - lo);
    std::vector<double> ticks;
    for (double ms = std::ceil(lo / step) * step; ms <= hi + step * 1e-9 && ticks.size() < 100; ms += step) {
        ticks.push_back(std::fabs(ms) < step * 1e-9 ? 0 : ms);
    }
    return ticks;
}

// A light vertical line at every tick, through all lanes.
void DrawTimeGrid(cairo_t* cr, const Frame& f, double axis) {
    cairo_set_source_rgb(cr, 0.84, 0.84, 0.84);
    cairo_set_line_width(cr, 0.5);
    for (double ms : TimeTicks(f)) {
        const double px = f.X(f.origin + ms / 1000);
        cairo_move_to(cr, px, kHeader);
        cairo_line_to(cr, px, axis);
        cairo_stroke(cr);
    }
}

// Time axis in milliseconds from the trigger (negative before it), at `axis`.
void DrawTimeAxis(cairo_t* cr, const Frame& f, double axis, bool fromTrigger) {
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    cairo_set_line_width(cr, 1);
    cairo_move_to(cr, f.plotLeft, axis);
    cairo_line_to(cr, f.plotRight, axis);
    cairo_stroke(cr);
    for (double ms : TimeTicks(f)) {
        const double px = f.X(f.origin + ms / 1000);
        cairo_move_to(cr, px, axis);
        cairo_line_to(cr, px, axis + 5);
        cairo_stroke(cr);
        Text(cr, px - 10, axis + 18, Number(ms) + " ms", 10);
    }
    Text(cr, 12, axis + 18, fromTrigger ? "time from the trigger" : "time from the start", 10);
}

// Where each further sampling rate begins.
void DrawRateChanges(cairo_t* cr, const Recording& r, const Frame& f, double axis) {
    if (!r.TimesFromRates()) return;
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.8);
    const double dash[] = {2, 3};
    cairo_set_dash(cr, dash, 2, 0);
    for (size_t s = 0; s + 1 < r.rates.size(); ++s) {
        const size_t first = static_cast<size_t>(r.rates[s].lastSample);
        if (first >= r.SampleCount()) break;
        const double px = f.X(r.seconds[first]);
        cairo_move_to(cr, px, kHeader);
        cairo_line_to(cr, px, axis);
        cairo_stroke(cr);
        Text(cr, px + 3, axis - 4, Number(r.rates[s + 1].hz) + " Hz", 10);
    }
    cairo_set_dash(cr, nullptr, 0, 0);
}

// The trigger, on the samples' own axis. Its label sits in the band between
// the heading and the lanes, and inside the picture.
void DrawTrigger(cairo_t* cr, const Recording& r, const Frame& f, double axis) {
    const double trigger = r.TriggerSeconds();
    if (!(trigger >= f.t0 && trigger <= f.t1)) return;  // also when it is not a number
    const double px = f.X(trigger);
    const double dash[] = {6, 4};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_source_rgb(cr, 0.85, 0.0, 0.0);
    cairo_set_line_width(cr, 1.5);
    cairo_move_to(cr, px, kHeader - 4);
    cairo_line_to(cr, px, axis);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
    const char* label = "trigger";
    const bool left = px + 4 + TextWidth(cr, label, 12) > f.width - 4;
    Text(cr, left ? px - 4 : px + 4, kHeader - 8, label, 12, left);
}

void Draw(cairo_t* cr, const Recording& r, const Frame& f, const Page& page, size_t pageNo, size_t pages) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    DrawHeading(cr, r, pageNo, pages);
    double y = kHeader;
    for (const Row& row : page.rows) DrawLaneBackground(cr, f, row, y), y += row.Height();
    const double axis = y + 6;
    DrawTimeGrid(cr, f, axis);
    y = kHeader;
    for (const Row& row : page.rows) {
        switch (row.kind) {
            case Row::kAnalog: DrawAnalog(cr, r, f, row.channel, y, page.scales.at(row.channel)); break;
            case Row::kStatus: DrawStatus(cr, r, f, row.channel, y); break;
            case Row::kBit: DrawBit(cr, r, f, row.channel, row.bit, y); break;
            case Row::kLegend: DrawLegend(cr, r, f, row.channel, y); break;
        }
        y += row.Height();
    }
    DrawTimeAxis(cr, f, axis, std::isfinite(r.TriggerSeconds()));
    DrawRateChanges(cr, r, f, axis);
    DrawTrigger(cr, r, f, axis);
}

std::string PageBase(const std::string& base, size_t page) {
    return page == 0 ? base : base + "-p" + std::to_string(page + 1);
}

std::string WritePage(const Recording& r, const Frame& f, const Page& page, size_t pageNo, size_t pages,
                      const std::string& svg, const std::string& png) {
    cairo_surface_t* surface = cairo_svg_surface_create(svg.c_str(), f.width, f.height);
    cairo_t* cr = cairo_create(surface);
    std::vector<SvgText> texts;
    cairo_set_user_data(cr, &kSvgTexts, &texts, nullptr);
    Draw(cr, r, f, page, pageNo, pages);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t svgStatus = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (svgStatus != CAIRO_STATUS_SUCCESS) return "can't write " + svg + ": " + cairo_status_to_string(svgStatus);
    if (std::string error = AddSvgTexts(svg, texts, kFont); !error.empty()) return error;

    surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(f.width), static_cast<int>(f.height));
    cr = cairo_create(surface);
    Draw(cr, r, f, page, pageNo, pages);
    cairo_destroy(cr);
    cairo_status_t pngStatus = cairo_surface_status(surface);
    if (pngStatus == CAIRO_STATUS_SUCCESS) pngStatus = cairo_surface_write_to_png(surface, png.c_str());
    cairo_surface_destroy(surface);
    if (pngStatus != CAIRO_STATUS_SUCCESS) return "can't write " + png + ": " + cairo_status_to_string(pngStatus);
    return {};
}

}  // namespace

std::string PlotComtrade(const Recording& r, const std::string& base, const PlotStyle& style,
                         std::vector<std::string>& files) {
    const int width = style.width;
    files.clear();
    if (r.SampleCount() == 0) return "the recording has no samples";
    if (r.analog.empty() && r.status.empty()) return "the recording has no channels";
    if (width > kMaxWidth) return "a picture can be at most " + std::to_string(kMaxWidth) + " pixels wide";
    Frame f;
    f.width = std::max(600, width);
    f.plotLeft = kLeft;
    f.plotRight = f.width - kRight;
    f.rms = style.rms;
    f.bits = style.bits;
    f.t0 = *std::min_element(r.seconds.begin(), r.seconds.end());
    f.t1 = *std::max_element(r.seconds.begin(), r.seconds.end());
    // A trigger a little outside the samples still shows.
    const double trigger = r.TriggerSeconds();
    const double span = f.t1 - f.t0;
    if (trigger < f.t0 && f.t0 - trigger <= span / 2) f.t0 = trigger;
    if (trigger > f.t1 && trigger - f.t1 <= span / 2) f.t1 = trigger;
    if (f.t1 <= f.t0) f.t0 -= 5e-4, f.t1 = f.t0 + 1e-3;  // one sample: a point in the middle
    f.origin = std::isfinite(trigger) ? trigger : f.t0;

    // Every page goes to a temporary name first, so a failure leaves none behind.
    std::vector<Page> pages = Paginate(r);
    for (Page& page : pages) SetScales(r, f, style.scalePerChannel, page);
    std::vector<std::pair<std::string, std::string>> renames;
    std::string error;
    for (size_t p = 0; p < pages.size() && error.empty(); ++p) {
        f.height = pages[p].Height();
        const std::string name = PageBase(base, p);
        const std::string svg = name + ".svg", png = name + ".png";
        renames.push_back({svg + ".part", svg});
        renames.push_back({png + ".part", png});
        error = WritePage(r, f, pages[p], p, pages.size(), svg + ".part", png + ".part");
    }
    for (const auto& [from, to] : renames) {
        if (error.empty() && std::rename(from.c_str(), to.c_str()) != 0) error = "can't write " + to;
    }
    if (!error.empty()) {
        for (const auto& rename : renames) {
            ::unlink(rename.first.c_str());
        }
        return error;
    }
    for (const auto& rename : renames) files.push_back(rename.second);
    return {};
}

}  // namespace vorlan_host
