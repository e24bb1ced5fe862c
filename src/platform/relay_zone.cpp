#include "platform/relay_zone.h"

#include <algorithm>
#include <cstdlib>

#include "platform/ini_file.h"

namespace vorlan {

namespace {

constexpr int64_t kDay = 86400;
// FILETIME's calendar ends with the year 30827.
const int64_t kEndOfFileTime = FieldSeconds(30828, 1, 1, 0, 0, 0);
constexpr int32_t kFirstYear = 1970;
constexpr size_t kMaxZoneName = 100;

// Big-endian fields read from a byte range; a read past its end fails once
// and for good.
class ZoneReader {
public:
    ZoneReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Has(uint64_t n) const { return ok_ && n <= size_ - at_; }
    uint64_t Unsigned(size_t bytes) {
        if (!Has(bytes)) {
            ok_ = false;
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = 0; i < bytes; ++i) v = v << 8 | data_[at_ + i];
        at_ += bytes;
        return v;
    }
    int64_t Signed(size_t bytes) {
        const uint64_t v = Unsigned(bytes);
        const uint64_t sign = uint64_t{1} << (8 * bytes - 1);
        return bytes == 8 ? static_cast<int64_t>(v) : static_cast<int64_t>(v ^ sign) - static_cast<int64_t>(sign);
    }
    void Skip(uint64_t n) {
        if (!Has(n)) ok_ = false;
        else at_ += static_cast<size_t>(n);
    }
    size_t At() const { return at_; }
    bool ok() const { return ok_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    bool ok_ = true;
};

struct ZoneHeader {
    char version = 0;
    uint64_t isUtcCount = 0, isStdCount = 0, leapCount = 0, timeCount = 0, typeCount = 0, charCount = 0;
};

bool ReadHeader(ZoneReader& r, ZoneHeader& h) {
    if (!r.Has(44)) return false;
    if (r.Unsigned(4) != 0x545A6966) return false;  // "TZif"
    h.version = static_cast<char>(r.Unsigned(1));
    r.Skip(15);
    h.isUtcCount = r.Unsigned(4);
    h.isStdCount = r.Unsigned(4);
    h.leapCount = r.Unsigned(4);
    h.timeCount = r.Unsigned(4);
    h.typeCount = r.Unsigned(4);
    h.charCount = r.Unsigned(4);
    return r.ok();
}

// The data block's size with `timeBytes`-byte times; the counts are at most
// 2^32 each, so the sum can't overflow.
uint64_t BlockSize(const ZoneHeader& h, uint64_t timeBytes) {
    return h.timeCount * timeBytes + h.timeCount + h.typeCount * 6 + h.charCount +
           h.leapCount * (timeBytes + 4) + h.isStdCount + h.isUtcCount;
}

// --- The footer's rule for times after the table: "std offset [dst [offset]
// [,start[/time],end[/time]]]", as in a TZ variable.

struct RuleDate {
    char kind = 'M';  // 'J': day 1..365 without 29 February; 'D': day 0..365; 'M': month.week.weekday
    int32_t day = 0, month = 0, week = 0, weekday = 0;
    int32_t time = 2 * 3600;  // local time of day of the change, may be negative or past 24 h
};

struct FooterRule {
    int32_t stdOffset = 0;  // zone time minus UTC
    bool hasDst = false;
    int32_t dstOffset = 0;
    RuleDate start, end;
};

class RuleText {
public:
    explicit RuleText(const std::string& s) : s_(s) {}
    bool End() const { return at_ >= s_.size(); }
    bool Take(char c) {
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool Number(int32_t high, int32_t& out) {
        size_t digits = 0;
        int32_t n = 0;
        while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9' && digits < 4) {
            n = n * 10 + (s_[at_] - '0');
            ++at_;
            ++digits;
        }
        if (digits == 0 || n > high) return false;
        out = n;
        return true;
    }
    // A designation: three or more letters, or <...> of letters, digits and signs.
    bool Name() {
        const size_t from = at_;
        if (Take('<')) {
            while (at_ < s_.size() && IsQuotedChar(s_[at_])) ++at_;
            return at_ - from >= 4 && Take('>');
        }
        while (at_ < s_.size() && IsLetter(s_[at_])) ++at_;
        return at_ - from >= 3;
    }
    // [+-]hh[:mm[:ss]] in seconds, hours up to `maxHours`.
    bool Seconds(int32_t maxHours, int32_t& out) {
        int32_t sign = 1;
        if (Take('-')) sign = -1;
        else Take('+');
        int32_t h = 0, m = 0, sec = 0;
        if (!Number(maxHours, h)) return false;
        if (Take(':')) {
            if (!Number(59, m)) return false;
            if (Take(':') && !Number(59, sec)) return false;
        }
        out = sign * (h * 3600 + m * 60 + sec);
        return true;
    }
    bool Date(RuleDate& d) {
        if (Take('J')) {
            d.kind = 'J';
            if (!Number(365, d.day) || d.day < 1) return false;
        } else if (Take('M')) {
            d.kind = 'M';
            if (!Number(12, d.month) || d.month < 1 || !Take('.') || !Number(5, d.week) || d.week < 1 ||
                !Take('.') || !Number(6, d.weekday)) {
                return false;
            }
        } else {
            d.kind = 'D';
            if (!Number(365, d.day)) return false;
        }
        return !Take('/') || Seconds(167, d.time);
    }

private:
    static bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
    static bool IsQuotedChar(char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-'; }
    const std::string& s_;
    size_t at_ = 0;
};

bool ParseFooter(const std::string& text, FooterRule& rule) {
    RuleText t(text);
    int32_t west = 0;  // the text counts hours west of Greenwich
    if (!t.Name() || !t.Seconds(24, west)) return false;
    rule.stdOffset = -west;
    if (t.End()) return true;
    if (!t.Name()) return false;
    rule.hasDst = true;
    rule.dstOffset = rule.stdOffset + 3600;
    if (!t.End() && !t.Take(',')) {
        if (!t.Seconds(24, west)) return false;
        rule.dstOffset = -west;
        if (!t.Take(',')) return false;
    } else if (t.End()) {
        return false;  // daylight time with no rule for when it applies
    }
    return t.Date(rule.start) && t.Take(',') && t.Date(rule.end) && t.End();
}

bool LeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Zone calendar seconds of a rule's change in `year`.
int64_t ChangeSeconds(const RuleDate& d, int64_t year) {
    int64_t day = FieldSeconds(year, 1, 1, 0, 0, 0) / kDay;
    if (d.kind == 'J') {
        day += d.day - 1 + (LeapYear(year) && d.day >= 60 ? 1 : 0);
    } else if (d.kind == 'D') {
        day += d.day;
    } else {
        const int64_t first = FieldSeconds(year, d.month, 1, 0, 0, 0) / kDay;
        const int64_t firstWeekday = ((first + 4) % 7 + 7) % 7;
        int64_t dayOfMonth = 1 + (d.weekday - firstWeekday + 7) % 7 + 7 * (d.week - 1);
        const int64_t monthDays = FieldSeconds(year, d.month + 1, 1, 0, 0, 0) / kDay - first;
        while (dayOfMonth > monthDays) dayOfMonth -= 7;  // week 5: the last one
        day = first + dayOfMonth - 1;
    }
    return day * kDay + d.time;
}

void AddChange(std::vector<int64_t>& at, std::vector<int32_t>& offset, int64_t when, int32_t to) {
    if (!at.empty() && when <= at.back()) {
        if (when == at.back()) offset.back() = to;  // two changes at one instant: the later holds
        return;
    }
    at.push_back(when);
    offset.push_back(to);
}

// Unrolls the footer's changes from the year of `after` on.
void UnrollRule(const FooterRule& rule, int64_t after, std::vector<int64_t>& at, std::vector<int32_t>& offset) {
    const int64_t firstYear = std::max<int64_t>(kFirstYear, CalendarFields(after, 0).year);
    for (int64_t year = firstYear; year <= RelayZone::kLastRuleYear; ++year) {
        // Into daylight time the clock reads standard time, out of it daylight time.
        int64_t toDst = ChangeSeconds(rule.start, year) - rule.stdOffset;
        int64_t toStd = ChangeSeconds(rule.end, year) - rule.dstOffset;
        const bool dstFirst = toDst <= toStd;
        const int64_t a = dstFirst ? toDst : toStd;
        const int64_t b = dstFirst ? toStd : toDst;
        if (a > after) AddChange(at, offset, a, dstFirst ? rule.dstOffset : rule.stdOffset);
        if (b > after) AddChange(at, offset, b, dstFirst ? rule.stdOffset : rule.dstOffset);
    }
}

bool InOffsetRange(int64_t offset) { return offset >= -RelayZone::kMaxOffset && offset <= RelayZone::kMaxOffset; }

// "+08:00", "-0530", "+8": the sign is required, so no zone name is taken for one.
bool FixedOffset(const std::string& text, int32_t& out) {
    if (text.size() < 2 || (text[0] != '+' && text[0] != '-')) return false;
    std::string digits;
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') digits += c;
        else if (!(c == ':' && i == 3 && text.size() == 6)) return false;
    }
    int32_t hours = 0, minutes = 0;
    if (digits.size() == 1 || digits.size() == 2) {
        hours = std::atoi(digits.c_str());
    } else if (digits.size() == 4) {
        hours = std::atoi(digits.substr(0, 2).c_str());
        minutes = std::atoi(digits.substr(2).c_str());
    } else {
        return false;
    }
    if (hours > 23 || minutes > 59) return false;
    out = (text[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    return true;
}

// A name inside the zone directory: parts of letters, digits, '_', '-', '+'
// and '.', none starting with '.', joined by single '/'.
bool SafeZoneName(const std::string& name) {
    if (name.empty() || name.size() > kMaxZoneName) return false;
    bool partStart = true;
    for (char c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '_' || c == '-' || c == '+';
        if (c == '/') {
            if (partStart) return false;
            partStart = true;
        } else if (c == '.' && !partStart) {
            continue;
        } else if (!plain) {
            return false;
        } else {
            partStart = false;
        }
    }
    return !partStart;
}

}  // namespace

RelayZone RelayZone::Fixed(int32_t offsetSeconds) {
    RelayZone z;
    z.fixed_ = InOffsetRange(offsetSeconds) ? offsetSeconds : kDefaultOffset;
    return z;
}

bool RelayZone::FromText(const std::string& text, RelayZone& out, std::string& why) {
    int32_t offset = 0;
    if (FixedOffset(text, offset)) {
        out = Fixed(offset);
        return true;
    }
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        why = "an offset is written +hh:mm";
        return false;
    }
    if (!SafeZoneName(text)) {
        why = "not a zone name";
        return false;
    }
    const std::string path = ZoneDirectory() + "/" + text;
    std::string bytes, failure;
    switch (ReadSmallFile(path, kMaxZoneFile, bytes, failure)) {
    case FileReadResult::Missing: why = "no zone file " + path; return false;
    case FileReadResult::Failed: why = path + ": " + failure; return false;
    case FileReadResult::Read: break;
    }
    if (!FromZoneFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out, failure)) {
        why = path + ": " + failure;
        return false;
    }
    return true;
}

bool RelayZone::FromZoneFile(const uint8_t* data, size_t size, RelayZone& out, std::string& why) {
    if (data == nullptr || size > kMaxZoneFile) {
        why = "not a zone file";
        return false;
    }
    ZoneReader r(data, size);
    ZoneHeader h;
    if (!ReadHeader(r, h)) {
        why = "not a zone file";
        return false;
    }
    uint64_t timeBytes = 4;
    if (h.version != 0) {
        // Version 2 on repeats the data with 64-bit times after the first block.
        r.Skip(BlockSize(h, 4));
        if (!r.ok() || !ReadHeader(r, h)) {
            why = "a zone file cut short";
            return false;
        }
        timeBytes = 8;
    }
    if (h.typeCount == 0 || (h.isUtcCount != 0 && h.isUtcCount != h.typeCount) ||
        (h.isStdCount != 0 && h.isStdCount != h.typeCount) || !r.Has(BlockSize(h, timeBytes))) {
        why = "a zone file whose counts don't fit it";
        return false;
    }
    if (h.leapCount != 0) {
        why = "zone files that count leap seconds are not taken";
        return false;
    }
    const size_t n = static_cast<size_t>(h.timeCount);
    std::vector<int64_t> times(n);
    for (size_t i = 0; i < n; ++i) {
        times[i] = r.Signed(timeBytes);
        if (i > 0 && times[i] <= times[i - 1]) {
            why = "zone changes out of order";
            return false;
        }
    }
    std::vector<uint8_t> types(n);
    for (size_t i = 0; i < n; ++i) {
        types[i] = static_cast<uint8_t>(r.Unsigned(1));
        if (types[i] >= h.typeCount) {
            why = "a zone change names no offset";
            return false;
        }
    }
    std::vector<int32_t> offsets(static_cast<size_t>(h.typeCount));
    for (int32_t& o : offsets) {
        const int64_t utOffset = r.Signed(4);
        r.Skip(2);  // daylight flag, designation
        if (!InOffsetRange(utOffset)) {
            why = "an offset beyond 26 hours";
            return false;
        }
        o = static_cast<int32_t>(utOffset);
    }
    r.Skip(h.charCount + h.isStdCount + h.isUtcCount);

    FooterRule rule;
    bool hasRule = false;
    if (timeBytes == 8 && r.Has(1)) {
        // "\n<rule>\n"; an empty rule says nothing about later times.
        const size_t from = r.At();
        std::string footer;
        bool closed = false;
        if (r.Unsigned(1) == '\n') {
            while (r.Has(1)) {
                const char c = static_cast<char>(r.Unsigned(1));
                if (c == '\n') {
                    closed = true;
                    break;
                }
                footer += c;
            }
        }
        if (!closed || (r.At() - from > 2 && !ParseFooter(footer, rule))) {
            why = "a zone file whose rule for later times can't be read";
            return false;
        }
        hasRule = !footer.empty();
    }

    auto table = std::make_shared<Table>();
    table->before = offsets[0];
    table->at.reserve(n);
    table->offset.reserve(n);
    for (size_t i = 0; i < n; ++i) AddChange(table->at, table->offset, times[i], offsets[types[i]]);
    if (hasRule) {
        if (n == 0) table->before = rule.stdOffset;
        if (rule.hasDst) {
            UnrollRule(rule, n > 0 ? times[n - 1] : FieldSeconds(kFirstYear, 1, 1, 0, 0, 0) - 1, table->at,
                       table->offset);
        }
    }
    out.fixed_ = table->before;
    out.table_ = std::move(table);
    return true;
}

int32_t RelayZone::PeriodOffset(ptrdiff_t period) const {
    return period < 0 ? table_->before : table_->offset[static_cast<size_t>(period)];
}

int32_t RelayZone::OffsetAt(int64_t utc) const {
    if (!table_) return fixed_;
    const auto& at = table_->at;
    return PeriodOffset(std::upper_bound(at.begin(), at.end(), utc) - at.begin() - 1);
}

int64_t RelayZone::UtcSeconds(int64_t zoneSeconds) const {
    if (!table_) return zoneSeconds - fixed_;
    // Only periods within the largest offset of the instant can hold it.
    const auto& at = table_->at;
    const ptrdiff_t first = std::upper_bound(at.begin(), at.end(), zoneSeconds - kMaxOffset) - at.begin() - 1;
    const ptrdiff_t last = std::upper_bound(at.begin(), at.end(), zoneSeconds + kMaxOffset) - at.begin() - 1;
    const auto start = [&](ptrdiff_t p) { return p < 0 ? INT64_MIN : at[static_cast<size_t>(p)]; };
    const auto end = [&](ptrdiff_t p) {
        return p + 1 < static_cast<ptrdiff_t>(at.size()) ? at[static_cast<size_t>(p + 1)] : INT64_MAX;
    };
    // The first period that holds it: a repeated time's first pass.
    for (ptrdiff_t p = first; p <= last; ++p) {
        const int64_t utc = zoneSeconds - PeriodOffset(p);
        if (utc >= start(p) && utc < end(p)) return utc;
    }
    // A skipped time: the offset of the period that starts after it.
    for (ptrdiff_t p = first + 1; p <= last; ++p) {
        if (start(p) + PeriodOffset(p) > zoneSeconds) return zoneSeconds - PeriodOffset(p);
    }
    return zoneSeconds - PeriodOffset(last);
}

SystemTime RelayZone::FieldsAt(uint64_t fileTime) const {
    const int64_t seconds = static_cast<int64_t>(fileTime / kFileTimeTicksPerSecond) -
                            static_cast<int64_t>(kFileTimeUnixEpochSeconds);
    const int32_t ms = static_cast<int32_t>(fileTime / 10'000u % 1000u);
    return CalendarFields(ZoneSeconds(seconds), ms);
}

bool RelayZone::FileTimeOf(const SystemTime& t, uint64_t& out) const {
    if (t.year < kFirstYear || t.year > 30827 || t.milliseconds < 0 || t.milliseconds > 999) return false;
    const int64_t utc = UtcSeconds(FieldSeconds(t.year, t.month, t.day, t.hour, t.minute, t.second));
    if (utc < 0 || utc >= kEndOfFileTime) return false;
    out = static_cast<uint64_t>(utc + static_cast<int64_t>(kFileTimeUnixEpochSeconds)) * kFileTimeTicksPerSecond +
          static_cast<uint64_t>(t.milliseconds) * 10'000u;
    return true;
}

std::string ZoneDirectory() {
    const char* dir = std::getenv("TZDIR");
    if (dir != nullptr && dir[0] == '/') return dir;
    return "/usr/share/zoneinfo";
}

}  // namespace vorlan
