#include "value_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace comtrade {

namespace {

constexpr int kMaxDecimals = 12;

// The fewest decimals (up to 9) that write `x` exactly, or -1.
int ExactDecimals(double x) {
    double scaled = std::fabs(x);
    for (int d = 0; d <= 9; ++d, scaled *= 10) {
        if (std::fabs(scaled - std::round(scaled)) <= 1e-9 * std::max(1.0, scaled)) return d;
    }
    return -1;
}

void AppendSignificant(std::string& out, double v) {
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%.9g", v);
    out.append(text, static_cast<size_t>(n));
}

}  // namespace

int StepDecimals(double step) {
    step = std::fabs(step);
    if (!(step > 0) || !std::isfinite(step)) return 0;
    const int exact = ExactDecimals(step);
    if (exact >= 0) return exact;
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step))) + 2, 0, kMaxDecimals);
}

int ChannelDecimals(const Recording& r, const AnalogChannel& c) {
    if (r.format == DataFormat::kFloat32 || !(c.a != 0) || !std::isfinite(c.a)) return kNoStep;
    int d = StepDecimals(c.a);
    if (c.b != 0) d = std::max(d, std::min(StepDecimals(c.b), kMaxDecimals));
    return d;
}

int TimeDecimals(const Recording& r) {
    if (!r.TimesFromRates()) return StepDecimals(r.timemult * 1e-6);
    int d = 0;
    for (const Rate& rate : r.rates) d = std::max(d, StepDecimals(1 / rate.hz));
    return d;
}

void AppendNumber(std::string& out, double v, int decimals, bool rounded) {
    if (std::isnan(v)) return;
    if (decimals < 0) return AppendSignificant(out, v);
    static const double kPowers[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12};
    const double q = v * kPowers[std::min(decimals, kMaxDecimals)];
    const double whole = std::round(q);
    if (!(std::fabs(whole) < 9e15) || (!rounded && std::fabs(q - whole) > 1e-6 + std::fabs(q) * 1e-9)) {
        return AppendSignificant(out, v);
    }
    long long n = static_cast<long long>(whole);
    int d = decimals;
    while (d > 0 && n % 10 == 0) n /= 10, --d;  // trailing zeros dropped
    char digits[24];
    int len = 0;
    const bool negative = n < 0;
    unsigned long long u = negative ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
    do {
        digits[len++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u > 0 || len <= d);  // at least one digit before the point
    if (negative) out += '-';
    for (int i = len - 1; i >= 0; --i) {
        out += digits[i];
        if (i == d && d > 0) out += '.';
    }
}

std::string NumberText(double v, int decimals) {
    std::string text;
    AppendNumber(text, v, decimals);
    return text;
}

}  // namespace comtrade
