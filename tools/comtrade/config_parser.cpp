#include "config_parser.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "date_time.h"

namespace comtrade {

namespace {

constexpr long kMaxChannels = 999999;
constexpr long kMaxRates = 999;

class ConfigReader {
public:
    ConfigReader(const std::string& file, const std::vector<TextLine>& lines, Warnings& warnings)
        : file_(file), lines_(lines), warnings_(warnings) {}

    void Read(Recording& r) {
        Identification(r);
        const ChannelCounts counts = Counts();
        for (long i = 0; i < counts.analog; ++i) r.analog.push_back(Analog(i));
        for (long i = 0; i < counts.status; ++i) r.status.push_back(Status(i));
        Frequency(r);
        Rates(r);
        const bool monthFirst = r.revision == 1991;
        r.startNs = Time("the start date and time", monthFirst);
        r.triggerNs = Trigger(r.startNs, monthFirst);
        r.format = Format();
        Tail(r);
    }

private:
    struct ChannelCounts {
        long analog = 0, status = 0;
    };

    // The next line with exactly one of the field counts in `allowed`.
    std::vector<std::string> Next(const std::string& kind, std::initializer_list<size_t> allowed) {
        std::string counts;
        for (size_t n : allowed) counts += (counts.empty() ? "" : " or ") + std::to_string(n);
        if (next_ >= lines_.size()) {
            const TextLine end{lines_.empty() ? 1 : lines_.back().number + 1, ""};
            RefuseAt(file_, end, "expected " + kind + " (" + counts + " fields), found the end of the file");
        }
        current_ = &lines_[next_++];
        std::vector<std::string> fields = SplitFields(current_->text);
        for (size_t n : allowed) {
            if (fields.size() == n) return fields;
        }
        if (current_->text.empty()) Refuse("expected " + kind + " (" + counts + " fields), found a blank line");
        Refuse("expected " + kind + " with " + counts + " fields, found " + std::to_string(fields.size()) + ": " +
               Quoted(current_->text));
    }

    // A channel line: a line with more fields than `most` keeps the first
    // `most`; one between the counts whose surplus fields are blank keeps `fewest`.
    std::vector<std::string> NextChannel(const std::string& kind, size_t fewest, size_t most) {
        if (next_ < lines_.size()) {
            std::vector<std::string> fields = SplitFields(lines_[next_].text);
            size_t keep = fields.size() > most ? most : 0;
            if (fields.size() > fewest && fields.size() < most) {
                bool blank = true;
                for (size_t i = fewest; i < fields.size(); ++i) blank = blank && fields[i].empty();
                if (blank) keep = fewest;
            }
            if (keep > 0) {
                current_ = &lines_[next_++];
                Warn("extra fields", std::to_string(fields.size() - keep) + " extra field(s) after the " +
                                         std::to_string(keep) + " of " + kind + ", ignored");
                fields.resize(keep);
                return fields;
            }
        }
        return Next(kind, {fewest, most});
    }

    [[noreturn]] void Refuse(const std::string& what) { RefuseAt(file_, *current_, what); }
    void Warn(const std::string& kind, const std::string& what) {
        warnings_.AtLine(file_, current_->number, kind, what);
    }

    double Number(const std::string& text, const std::string& what, double blank, bool blankAllowed) {
        if (text.empty()) {
            if (blankAllowed) return blank;
            Refuse("expected " + what + ", found a blank field");
        }
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size() || !std::isfinite(v)) {
            Refuse("expected " + what + " (a number), found " + Quoted(text));
        }
        return v;
    }

    long Integer(const std::string& text, const std::string& what, long low, long high) {
        char* end = nullptr;
        const long v = text.empty() ? 0 : std::strtol(text.c_str(), &end, 10);
        if (text.empty() || end != text.c_str() + text.size() || v < low || v > high) {
            Refuse("expected " + what + " (a whole number " + std::to_string(low) + ".." + std::to_string(high) +
                   "), found " + Quoted(text));
        }
        return v;
    }

    // A channel index; the driver's own files leave it blank for unused rows.
    long Index(const std::string& text, long position, const std::string& what) {
        if (text.empty()) return position + 1;
        return Integer(text, what, 0, kMaxChannels);
    }

    void Identification(Recording& r) {
        const auto f = Next("the station line: station,device[,revision year]", {2, 3});
        r.station = f[0];
        r.device = f[1];
        r.revision = 1991;
        if (f.size() == 3 && !f[2].empty()) {
            char* end = nullptr;
            const long year = std::strtol(f[2].c_str(), &end, 10);
            if (f[2].size() != 4 || *end != '\0' || year < 1900) {
                Refuse("expected the revision year 1991, 1999 or 2013, found " + Quoted(f[2]));
            }
            r.revision = static_cast<int>(year);
            if (year != 1991 && year != 1999 && year != 2013) {
                Warn("revision year", "the revision year " + f[2] +
                                          " is none of 1991, 1999 or 2013; read by its field counts");
            }
        }
    }

    long CountField(const std::string& text, char suffix) {
        const std::string what = std::string("the count of ") + (suffix == 'A' ? "analog" : "status") +
                                 " channels like 16" + suffix;
        if (text.empty() || std::toupper(static_cast<unsigned char>(text.back())) != suffix) {
            Refuse("expected " + what + ", found " + Quoted(text));
        }
        return Integer(text.substr(0, text.size() - 1), what, 0, kMaxChannels);
    }

    ChannelCounts Counts() {
        const auto f = Next("the channel counts like 18,16A,2D", {3});
        const long total = Integer(f[0], "the total channel count", 0, 2 * kMaxChannels);
        ChannelCounts c;
        c.analog = CountField(f[1], 'A');
        c.status = CountField(f[2], 'D');
        if (c.analog + c.status != total) {
            Refuse("the total " + std::to_string(total) + " is not " + std::to_string(c.analog) + " analog + " +
                   std::to_string(c.status) + " status channels");
        }
        return c;
    }

    AnalogChannel Analog(long position) {
        const auto f = NextChannel("analog channel line " + std::to_string(position + 1), 10, 13);
        AnalogChannel c;
        c.index = Index(f[0], position, "the analog channel index");
        c.name = f[1];
        c.phase = f[2];
        c.circuit = f[3];
        c.unit = f[4];
        // Blank factors (channel rows the driver leaves empty) mean raw values.
        c.a = Number(f[5], "the multiplier a", 1.0, true);
        c.b = Number(f[6], "the offset b", 0.0, true);
        c.skew = Number(f[7], "the skew", 0.0, true);
        c.min = Number(f[8], "the minimum value", 0.0, true);
        c.max = Number(f[9], "the maximum value", 0.0, true);
        if (f.size() == 13) {
            c.primary = Number(f[10], "the primary ratio factor", 1.0, true);
            c.secondary = Number(f[11], "the secondary ratio factor", 1.0, true);
            const std::string& ps = f[12];
            if (ps.empty()) c.ps = 'S';
            else if (ps == "P" || ps == "p" || ps == "S" || ps == "s") c.ps = static_cast<char>(std::toupper(ps[0]));
            else Refuse("expected P or S (primary or secondary values), found " + Quoted(ps));
        }
        return c;
    }

    StatusChannel Status(long position) {
        const auto f = NextChannel("status channel line " + std::to_string(position + 1), 3, 5);
        StatusChannel c;
        c.index = Index(f[0], position, "the status channel index");
        c.name = f[1];
        if (f.size() == 5) {
            c.phase = f[2];
            c.circuit = f[3];
        }
        const std::string& normal = f.back();
        c.normal = normal.empty() ? 0 : static_cast<int>(Integer(normal, "the normal state", 0, 1));
        return c;
    }

    void Frequency(Recording& r) {
        const auto f = Next("the line frequency", {1});
        r.lineHz = Number(f[0], "the line frequency", 0, true);
    }

    void Rates(Recording& r) {
        const auto f = Next("the number of sampling rates", {1});
        const long nrates = Integer(f[0], "the number of sampling rates", 0, kMaxRates);
        // With no rates the line "0,last sample" still follows.
        const long lines = nrates == 0 ? 1 : nrates;
        long previous = 0;
        for (long i = 0; i < lines; ++i) {
            const auto g = Next("sampling rate line " + std::to_string(i + 1) + ": rate,last sample number", {2});
            Rate rate;
            rate.hz = Number(g[0], "the sampling rate", 0, false);
            if (rate.hz < 0) Refuse("expected a sampling rate of 0 or more, found " + Quoted(g[0]));
            if (nrates == 0 && rate.hz != 0) Refuse("expected rate 0 when the number of rates is 0, found " + g[0]);
            rate.lastSample = Integer(g[1], "the last sample number", 1, 0x7FFFFFFF);
            if (rate.lastSample <= previous) {
                Warn("rate table", "the last sample number " + g[1] + " does not go past the " +
                                       std::to_string(previous) + " before it; this segment holds no samples");
                rate.lastSample = previous;
            }
            previous = rate.lastSample;
            r.rates.push_back(rate);
        }
    }

    // The trigger line; blank or left out, the trigger is taken as the start.
    int64_t Trigger(int64_t startNs, bool monthFirst) {
        if (next_ < lines_.size()) {
            const std::vector<std::string> f = SplitFields(lines_[next_].text);
            const bool blank = f.size() <= 2 && f[0].empty() && f.back().empty();
            if (blank || (f.size() == 1 && IsFormatName(f[0]))) {
                current_ = &lines_[next_];
                if (blank) ++next_;
                Warn("trigger", std::string(blank ? "a blank trigger time" : "no trigger time line") +
                                    "; the trigger is taken as the start time");
                return startNs;
            }
        }
        return Time("the trigger date and time", monthFirst);
    }

    static bool IsFormatName(const std::string& text) {
        std::string upper;
        for (char c : text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return upper == "ASCII" || upper == "BINARY" || upper == "BINARY32" || upper == "FLOAT32";
    }

    int64_t Time(const std::string& what, bool monthFirst) {
        const auto f = Next(what, {2});
        int64_t ns = 0;
        const std::string e = ParseDateTime(f[0], f[1], monthFirst, ns);
        if (!e.empty()) Refuse(what + ": " + e);
        return ns;
    }

    DataFormat Format() {
        const auto f = Next("the data file type", {1});
        std::string upper;
        for (char c : f[0]) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (upper == "ASCII") return DataFormat::kAscii;
        if (upper == "BINARY") return DataFormat::kBinary;
        if (upper == "BINARY32") return DataFormat::kBinary32;
        if (upper == "FLOAT32") return DataFormat::kFloat32;
        Refuse("expected the data file type ASCII, BINARY, BINARY32 or FLOAT32, found " + Quoted(f[0]));
    }

    bool AtEnd() {
        while (next_ < lines_.size() && lines_[next_].text.find_first_not_of(" \t\x1A") == std::string::npos) {
            if (lines_[next_].text.find('\x1A') != std::string::npos) {
                current_ = &lines_[next_];
                Warn("padding", "Ctrl-Z padding after the last line, ignored");
            }
            ++next_;
        }
        return next_ >= lines_.size();
    }

    // timemult (1999 on), then the 2013 time-code and time-quality lines;
    // many writers end the file early, so each may be absent at the end.
    void Tail(Recording& r) {
        if (AtEnd()) return;
        auto f = Next("the time multiplier", {1});
        r.timemult = Number(f[0], "the time multiplier", 1.0, true);
        if (!(r.timemult > 0)) Refuse("expected a time multiplier above 0, found " + Quoted(f[0]));
        if (r.revision == 1991 || r.revision == 1999) return ExpectEnd();
        if (AtEnd()) return;
        f = Next("the time code line: time code,local code", {2});
        r.timeCode = f[0];
        r.localCode = f[1];
        if (AtEnd()) return;
        f = Next("the time quality line: time quality,leap second", {2});
        r.tmqCode = LeadingDigit(f[0], "time quality code", "0123456789ABCDEFabcdef");
        const std::string leap = LeadingDigit(f[1], "leap second indicator", "0123");
        r.leapSecond = leap.empty() ? 0 : static_cast<int>(Integer(leap, "the leap second indicator", 0, 3));
        ExpectEnd();
    }

    // A one-digit field some writers follow with junk: the digit is kept.
    std::string LeadingDigit(const std::string& text, const std::string& what, const char* digits) {
        if (text.size() < 2 || std::strchr(digits, text[0]) == nullptr) return text;
        for (size_t i = 1; i < text.size(); ++i) {
            if (std::strchr(digits, text[i]) != nullptr) return text;  // a wrong number, not junk
        }
        Warn(what, "junk after the " + what + " " + Quoted(text) + "; read as " + text.substr(0, 1));
        return text.substr(0, 1);
    }

    void ExpectEnd() {
        if (AtEnd()) return;
        current_ = &lines_[next_];
        Refuse("expected the end of the configuration, found " + Quoted(current_->text));
    }

    const std::string& file_;
    const std::vector<TextLine>& lines_;
    Warnings& warnings_;
    size_t next_ = 0;
    const TextLine* current_ = nullptr;
};

}  // namespace

void ParseConfiguration(const std::string& file, const std::vector<TextLine>& lines, Warnings& warnings,
                        Recording& out) {
    ConfigReader(file, lines, warnings).Read(out);
}

}  // namespace comtrade
