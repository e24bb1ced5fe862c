// SPDX-License-Identifier: Apache-2.0
#include "date_time.h"

#include <cstdio>
#include <cstdlib>

namespace comtrade {

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

bool IsLeap(long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(long y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
    return s.substr(a, b - a);
}

// Splits digits separated by `sep` into exactly `count` unsigned numbers;
// reports each part's digit count.
bool DigitParts(const std::string& text, char sep, size_t count, long* values, size_t* widths) {
    size_t part = 0, i = 0;
    while (part < count) {
        const size_t begin = i;
        long v = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (i - begin >= 9) return false;
            v = v * 10 + (text[i] - '0');
            ++i;
        }
        if (i == begin) return false;
        values[part] = v;
        widths[part] = i - begin;
        ++part;
        if (part < count) {
            if (i >= text.size() || text[i] != sep) return false;
            ++i;
        }
    }
    return i == text.size();
}

}  // namespace

std::string ParseDateTime(const std::string& dateText, const std::string& timeText, bool monthFirst, int64_t& ns) {
    const std::string date = Trim(dateText), time = Trim(timeText);
    long d[3];
    size_t w[3];
    const char* dateShape = monthFirst ? "a date mm/dd/yyyy or mm/dd/yy" : "a date dd/mm/yyyy";
    if (!DigitParts(date, '/', 3, d, w) || (w[2] != 2 && w[2] != 4)) {
        return "expected " + std::string(dateShape) + ", found '" + date + "'";
    }
    const long month = monthFirst ? d[0] : d[1];
    const long day = monthFirst ? d[1] : d[0];
    long year = d[2];
    if (w[2] == 2) year += year >= 70 ? 1900 : 2000;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, static_cast<int>(month))) {
        return "no such day: '" + date + "' (" + dateShape + ")";
    }
    // Time: hh:mm:ss with an optional fraction.
    const size_t dot = time.find('.');
    const std::string whole = time.substr(0, dot);
    long t[3];
    size_t tw[3];
    if (!DigitParts(whole, ':', 3, t, tw) || t[0] > 23 || t[1] > 59 || t[2] > 60) {
        return "expected a time hh:mm:ss.ssssss, found '" + time + "'";
    }
    int64_t fractionNs = 0;
    if (dot != std::string::npos) {
        const std::string fraction = time.substr(dot + 1);
        if (fraction.empty() || fraction.size() > 9) {
            return "expected one to nine fraction digits in '" + time + "'";
        }
        int64_t scale = 100000000;
        for (char c : fraction) {
            if (c < '0' || c > '9') return "expected a time hh:mm:ss.ssssss, found '" + time + "'";
            fractionNs += (c - '0') * scale;
            scale /= 10;
        }
    }
    const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    // 64-bit nanoseconds reach from 1677-09-21 to 2262-04-11: a time outside
    // is refused, not wrapped. Before 1970 the fraction is borrowed from the
    // next second so the last nanoseconds before the low end still fit.
    int64_t secs = ((days * 24 + t[0]) * 60 + t[1]) * 60 + t[2];
    if (secs < 0 && fractionNs > 0) {
        ++secs;
        fractionNs -= 1000000000;
    }
    int64_t total;
    if (__builtin_mul_overflow(secs, int64_t{1000000000}, &total) || __builtin_add_overflow(total, fractionNs, &total)) {
        return "outside the years 1677 to 2262: '" + date + " " + time + "'";
    }
    ns = total;
    return {};
}

std::string IsoText(int64_t ns) {
    const int64_t perDay = int64_t{86400} * 1000000000;
    int64_t days = ns / perDay;
    int64_t rest = ns % perDay;
    if (rest < 0) rest += perDay, --days;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    const int64_t us = rest / 1000;
    const int64_t secs = us / 1000000;
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%06lld", static_cast<long long>(y), m, d,
                  static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                  static_cast<long long>(secs % 60), static_cast<long long>(us % 1000000));
    return text;
}

}  // namespace comtrade
