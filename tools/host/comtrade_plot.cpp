#include "comtrade_plot.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "gbk_text.h"

namespace vorlan_host {

namespace {

constexpr double kHeader = 64;
constexpr double kFooter = 44;
constexpr double kLeft = 190;     // channel labels
constexpr double kRight = 90;     // scale labels
constexpr double kAnalogLane = 64;
constexpr double kDigitalLane = 40;
constexpr const char* kFont = "WenQuanYi Micro Hei";

struct Frame {
    double width, height, plotLeft, plotRight;
    double t0, t1;  // seconds
    double X(double t) const { return plotLeft + (t - t0) / (t1 - t0) * (plotRight - plotLeft); }
};

double SampleSeconds(const Comtrade& r, size_t i) {
    return r.samples[i].timeUs / 1e6;
}

bool TimesUsable(const Comtrade& r) {
    for (size_t i = 1; i < r.samples.size(); ++i) {
        if (r.samples[i].timeUs <= r.samples[i - 1].timeUs) return false;
    }
    return r.samples.size() > 1;
}

void Text(cairo_t* cr, double x, double y, const std::string& text, double size, bool right = false) {
    cairo_set_font_size(cr, size);
    const std::string utf8 = ToUtf8(text);
    cairo_text_extents_t e;
    cairo_text_extents(cr, utf8.c_str(), &e);
    cairo_move_to(cr, right ? x - e.x_advance : x, y);
    cairo_show_text(cr, utf8.c_str());
}

std::string Number(double v) {
    char b[32];
    if (std::fabs(v) >= 1000 || v == 0) std::snprintf(b, sizeof b, "%.0f", v);
    else std::snprintf(b, sizeof b, "%.3g", v);
    return b;
}

void Draw(cairo_t* cr, const Comtrade& r, const Frame& f, const std::vector<double>& times) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);

    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    Text(cr, 16, 28, r.station + "  " + r.device, 20);
    Text(cr, 16, 50,
         "start " + r.startTime + "   trigger " + r.triggerTime + "   " + Number(r.sampleRate) + " samples/s, " +
             std::to_string(r.samples.size()) + " samples",
         12);

    static const double colours[][3] = {{0.80, 0.55, 0.00}, {0.10, 0.60, 0.10}, {0.85, 0.10, 0.10},
                                        {0.30, 0.30, 0.30}, {0.05, 0.35, 0.75}, {0.55, 0.20, 0.65}};
    double y = kHeader;
    for (size_t j = 0; j < r.analog.size(); ++j, y += kAnalogLane) {
        const double mid = y + kAnalogLane / 2;
        double peak = 0;
        for (const auto& s : r.samples) peak = std::max(peak, std::fabs(s.analog[j]));
        if (peak == 0) peak = 1;
        const double scale = (kAnalogLane / 2 - 6) / peak;
        cairo_set_source_rgb(cr, j % 2 ? 0.97 : 0.94, j % 2 ? 0.97 : 0.95, j % 2 ? 0.97 : 0.98);
        cairo_rectangle(cr, f.plotLeft, y, f.plotRight - f.plotLeft, kAnalogLane);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.75, 0.75, 0.75);
        cairo_set_line_width(cr, 0.5);
        cairo_move_to(cr, f.plotLeft, mid);
        cairo_line_to(cr, f.plotRight, mid);
        cairo_stroke(cr);
        const auto& c = colours[j % 6];
        cairo_set_source_rgb(cr, c[0], c[1], c[2]);
        cairo_set_line_width(cr, 1.2);
        for (size_t i = 0; i < r.samples.size(); ++i) {
            const double px = f.X(times[i]);
            const double py = mid - r.samples[i].analog[j] * scale;
            if (i == 0) cairo_move_to(cr, px, py);
            else cairo_line_to(cr, px, py);
        }
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        const AnalogChannel& ch = r.analog[j];
        std::string label = ch.id.empty() ? "channel " + std::to_string(j + 1) : ch.id;
        if (!ch.unit.empty()) label += " (" + ch.unit + ")";
        Text(cr, 12, mid + 5, label, 13);
        Text(cr, f.width - 8, y + 14, "+" + Number(peak), 10, true);
        Text(cr, f.width - 8, y + kAnalogLane - 4, "-" + Number(peak), 10, true);
    }
    for (size_t w = 0; w < r.digital.size(); ++w, y += kDigitalLane) {
        long high = 1;
        for (const auto& s : r.samples) high = std::max(high, s.digital[w]);
        cairo_set_source_rgb(cr, 0.93, 0.96, 0.93);
        cairo_rectangle(cr, f.plotLeft, y, f.plotRight - f.plotLeft, kDigitalLane);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.1, 0.45, 0.2);
        cairo_set_line_width(cr, 1.5);
        const double base = y + kDigitalLane - 6, top = y + 8;
        long last = -1;
        for (size_t i = 0; i < r.samples.size(); ++i) {
            const long v = r.samples[i].digital[w];
            const double px = f.X(times[i]);
            const double py = base - (base - top) * static_cast<double>(v) / static_cast<double>(high);
            if (i == 0) cairo_move_to(cr, px, py);
            else cairo_line_to(cr, px, py);  // step: rise at this sample
            if (i + 1 < r.samples.size()) cairo_line_to(cr, f.X(times[i + 1]), py);
            if (v != last) {
                cairo_stroke(cr);
                cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
                char hex[16];
                std::snprintf(hex, sizeof hex, "%02lX", static_cast<unsigned long>(v));
                Text(cr, px + 2, top - 1, hex, 9);
                cairo_set_source_rgb(cr, 0.1, 0.45, 0.2);
                cairo_move_to(cr, px, py);
                if (i + 1 < r.samples.size()) cairo_line_to(cr, f.X(times[i + 1]), py);
                last = v;
            }
        }
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        const std::string id = r.digital[w].empty() ? "word " + std::to_string(w + 1) : r.digital[w];
        Text(cr, 12, y + kDigitalLane / 2 + 5, id + " (digital)", 13);
    }
    // Time axis.
    const double axis = y + 6;
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    cairo_set_line_width(cr, 1);
    cairo_move_to(cr, f.plotLeft, axis);
    cairo_line_to(cr, f.plotRight, axis);
    cairo_stroke(cr);
    const double span = (f.t1 - f.t0) * 1000;
    const double step = span > 400 ? 100 : span > 200 ? 50 : span > 80 ? 20 : span > 40 ? 10 : 5;
    for (double ms = std::ceil(f.t0 * 1000 / step) * step; ms <= f.t1 * 1000 + 1e-9; ms += step) {
        const double px = f.X(ms / 1000);
        cairo_move_to(cr, px, axis);
        cairo_line_to(cr, px, axis + 5);
        cairo_stroke(cr);
        Text(cr, px - 10, axis + 18, Number(ms) + " ms", 10);
    }
    // Trigger.
    const double trigger = r.TriggerOffsetSeconds();
    if (trigger >= f.t0 && trigger <= f.t1) {
        const double px = f.X(trigger);
        const double dash[] = {6, 4};
        cairo_set_dash(cr, dash, 2, 0);
        cairo_set_source_rgb(cr, 0.85, 0.0, 0.0);
        cairo_set_line_width(cr, 1.5);
        cairo_move_to(cr, px, kHeader - 6);
        cairo_line_to(cr, px, axis);
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0);
        Text(cr, px + 4, kHeader - 8, "trigger", 12);
    }
}

}  // namespace

std::string PlotComtrade(const Comtrade& r, const std::string& base, int width) {
    if (r.samples.empty()) return "the recording has no samples";
    std::vector<double> times;
    const bool usable = TimesUsable(r);
    for (size_t i = 0; i < r.samples.size(); ++i) {
        times.push_back(usable ? SampleSeconds(r, i)
                               : static_cast<double>(i) / (r.sampleRate > 0 ? r.sampleRate : 1000.0));
    }
    Frame f;
    f.width = std::max(600, width);
    f.height = kHeader + kAnalogLane * static_cast<double>(r.analog.size()) +
               kDigitalLane * static_cast<double>(r.digital.size()) + kFooter;
    f.plotLeft = kLeft;
    f.plotRight = f.width - kRight;
    f.t0 = times.front();
    f.t1 = times.back() > times.front() ? times.back() : times.front() + 1e-3;

    const std::string svg = base + ".svg";
    cairo_surface_t* surface = cairo_svg_surface_create(svg.c_str(), f.width, f.height);
    cairo_t* cr = cairo_create(surface);
    Draw(cr, r, f, times);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t svgStatus = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (svgStatus != CAIRO_STATUS_SUCCESS) return "can't write " + svg + ": " + cairo_status_to_string(svgStatus);

    const std::string png = base + ".png";
    surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(f.width), static_cast<int>(f.height));
    cr = cairo_create(surface);
    Draw(cr, r, f, times);
    cairo_destroy(cr);
    const cairo_status_t pngStatus = cairo_surface_write_to_png(surface, png.c_str());
    cairo_surface_destroy(surface);
    if (pngStatus != CAIRO_STATUS_SUCCESS) return "can't write " + png + ": " + cairo_status_to_string(pngStatus);
    return {};
}

}  // namespace vorlan_host
