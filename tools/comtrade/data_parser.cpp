#include "data_parser.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "refusal.h"
#include "sample_clock.h"

namespace comtrade {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
constexpr size_t kBlockSamples = 4096;
constexpr size_t kChunkBytes = size_t{1} << 20;

uint32_t Le32(const char* b) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[0])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[3])) << 24;
}

uint16_t Le16(const char* b) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[0]) | static_cast<unsigned char>(b[1]) << 8);
}

size_t AnalogBytes(DataFormat f) { return f == DataFormat::kBinary ? 2 : 4; }

bool IsPadding(char c) { return c == '\0' || c == '\x1A'; }

bool AllPadding(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (!IsPadding(p[i])) return false;
    }
    return true;
}

// Collects samples into blocks for the sink, gives each its time, and keeps
// the count to what the rate table announces.
class BlockBuilder {
public:
    explicit BlockBuilder(const DataTarget& t)
        : t_(t), clock_(t.r.rates), fromRates_(t.r.TimesFromRates()),
          expected_(t.r.rates.empty() ? 0 : static_cast<size_t>(std::max(0L, t.r.rates.back().lastSample))) {
        block_.values.assign(t.r.analog.size(), {});
        block_.states.assign(t.r.status.size(), {});
        Clear();
    }

    bool Wanted() const { return count_ < expected_; }
    size_t Count() const { return count_; }
    size_t Expected() const { return expected_; }

    // A sample's number and time stamp, if it has one; `where` is its line
    // or the byte offset of its time stamp.
    void Begin(long number, bool stamped, int64_t stamp, size_t where, bool binary) {
        block_.numbers.push_back(number);
        if (fromRates_) {
            if (!stamped) Note(where, binary, "empty time stamp", "no time stamp; the times come from the rates");
            block_.seconds.push_back(clock_.Seconds(count_));
            return;
        }
        if (!stamped) {
            const std::string what = "expected a timestamp: the configuration gives no sampling rate";
            if (binary) RefuseAtByte(t_.file, where, what);
            RefuseAt(t_.file, TextLine{where, ""}, what);
        }
        block_.seconds.push_back(static_cast<double>(stamp) * t_.r.timemult / 1e6);
    }
    void Analog(size_t j, double stored) {
        const AnalogChannel& c = t_.r.analog[j];
        block_.values[j].push_back(std::isnan(stored) ? kMissing : c.a * stored + c.b);
    }
    void Status(size_t j, int32_t v) { block_.states[j].push_back(v); }
    void End() {
        ++count_;
        if (block_.Size() >= kBlockSamples) Flush();
    }

    void Note(size_t where, bool binary, const std::string& kind, const std::string& what) {
        if (binary) t_.warnings.AtByte(t_.file, where, kind, what);
        else t_.warnings.AtLine(t_.file, where, kind, what);
    }

    // Hands on the last block; fewer samples than announced correct the count.
    void Finish(size_t endWhere, bool binary) {
        Flush();
        t_.r.samplesInFile = count_;
        if (count_ >= expected_) return;
        Note(endWhere, binary, "fewer samples",
             "the data ends after " + std::to_string(count_) + " samples, the configuration counts " +
                 std::to_string(expected_) + "; the count is corrected");
        for (Rate& rate : t_.r.rates) {
            if (rate.lastSample > static_cast<long>(count_)) rate.lastSample = static_cast<long>(count_);
        }
    }

private:
    void Flush() {
        if (block_.Size() > 0) t_.sink(block_);
        block_.first = count_;
        Clear();
    }
    void Clear() {
        block_.numbers.clear();
        block_.seconds.clear();
        for (auto& v : block_.values) v.clear();
        for (auto& v : block_.states) v.clear();
    }

    const DataTarget& t_;
    SampleClock clock_;
    bool fromRates_;
    size_t expected_;
    size_t count_ = 0;
    SampleBlock block_;
};

bool WholeNumber(std::string_view text, std::string& scratch, long long& v) {
    if (text.empty()) return false;
    scratch.assign(text.data(), text.size());
    char* end = nullptr;
    errno = 0;
    v = std::strtoll(scratch.c_str(), &end, 10);
    return end == scratch.c_str() + scratch.size() && errno == 0;
}

std::string Text(std::string_view v) { return std::string(v); }

// Fields of a line split at commas, each without surrounding blanks.
void SplitInto(std::string_view line, std::vector<std::string_view>& fields) {
    fields.clear();
    size_t pos = 0;
    for (;;) {
        const size_t comma = line.find(',', pos);
        const size_t stop = comma == std::string_view::npos ? line.size() : comma;
        size_t a = pos, b = stop;
        while (a < b && (line[a] == ' ' || line[a] == '\t')) ++a;
        while (b > a && (line[b - 1] == ' ' || line[b - 1] == '\t')) --b;
        fields.push_back(line.substr(a, b - a));
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
}

class AsciiLines {
public:
    AsciiLines(const DataTarget& t, BlockBuilder& out) : t_(t), out_(out) {}

    // One line of the file; false once the table's count is reached and a
    // further sample line is ignored.
    bool Line(std::string_view text, size_t number) {
        const size_t end = text.find_last_not_of(std::string_view("\0\x1A \t", 4));
        if (end == std::string_view::npos) {
            if (text.find_first_of(std::string_view("\0\x1A", 2)) != std::string_view::npos) {
                out_.Note(number, false, "padding", "Ctrl-Z or NUL padding, ignored");
            }
            return true;  // blank lines hold no sample
        }
        if (text.find_first_of(std::string_view("\0\x1A", 2), end) != std::string_view::npos) {
            out_.Note(number, false, "padding", "Ctrl-Z or NUL padding after the last field, ignored");
        }
        if (!out_.Wanted()) {
            out_.Note(number, false, "more samples",
                      "more data lines than the " + std::to_string(out_.Expected()) +
                          " samples the configuration counts; this one and those after it are ignored");
            return false;
        }
        Sample(text.substr(0, end + 1), number);
        return true;
    }

private:
    void Sample(std::string_view text, size_t number) {
        const size_t k = t_.r.analog.size(), m = t_.r.status.size();
        const TextLine line{number, ""};
        SplitInto(text, f_);
        if (f_.size() != 2 + k + m) {
            RefuseAt(t_.file, line,
                     "expected " + std::to_string(2 + k + m) + " fields (sample number, timestamp, " +
                         std::to_string(k) + " analog, " + std::to_string(m) + " status), found " +
                         std::to_string(f_.size()));
        }
        long long v = 0;
        if (!WholeNumber(f_[0], scratch_, v)) {
            RefuseAt(t_.file, line, "expected the sample number, found " + Quoted(Text(f_[0])));
        }
        const long sampleNumber = static_cast<long>(v);
        int64_t stamp = 0;
        if (!f_[1].empty()) {
            if (!WholeNumber(f_[1], scratch_, v)) {
                RefuseAt(t_.file, line, "expected the timestamp (a whole number), found " + Quoted(Text(f_[1])));
            }
            if (v < 0) {
                out_.Note(number, false, "negative time stamp",
                          "negative time stamp " + Text(f_[1]) +
                              (t_.r.TimesFromRates() ? "; the times come from the rates"
                                                     : ", read as a time before the start time"));
            }
            stamp = v;
        }
        out_.Begin(sampleNumber, !f_[1].empty(), stamp, number, false);
        for (size_t j = 0; j < k; ++j) out_.Analog(j, AnalogValue(f_[2 + j], j, line));
        for (size_t j = 0; j < m; ++j) {
            // The driver stores a whole status word per column, so any 32-bit value is kept.
            if (!WholeNumber(f_[2 + k + j], scratch_, v) || v < INT32_MIN || v > INT32_MAX) {
                RefuseAt(t_.file, line,
                         "expected status value " + std::to_string(j + 1) + ", found " + Quoted(Text(f_[2 + k + j])));
            }
            out_.Status(j, static_cast<int32_t>(v));
        }
        out_.End();
    }

    double AnalogValue(std::string_view text, size_t j, const TextLine& line) {
        if (text.empty()) return kMissing;
        scratch_.assign(text.data(), text.size());
        char* stop = nullptr;
        const double x = std::strtod(scratch_.c_str(), &stop);
        if (stop != scratch_.c_str() + scratch_.size() || !std::isfinite(x)) {
            RefuseAt(t_.file, line,
                     "expected analog value " + std::to_string(j + 1) + " (a number), found " + Quoted(scratch_));
        }
        return x == 99999 ? kMissing : x;
    }

    const DataTarget& t_;
    BlockBuilder& out_;
    std::vector<std::string_view> f_;
    std::string scratch_;
};

}  // namespace

size_t DataInput::Read(std::string& buffer, size_t max) {
    if (file_) {
        const size_t old = buffer.size();
        buffer.resize(old + max);
        const size_t got = std::fread(&buffer[old], 1, max, file_);
        buffer.resize(old + got);
        return got;
    }
    const size_t n = std::min(max, end_ - pos_);
    buffer.append(*bytes_, pos_, n);
    pos_ += n;
    return n;
}

size_t BinarySampleBytes(const Recording& r) {
    return 8 + r.analog.size() * AnalogBytes(r.format) + (r.status.size() + 15) / 16 * 2;
}

void ParseAsciiData(const DataTarget& target, DataInput& input, size_t firstLine) {
    BlockBuilder out(target);
    AsciiLines lines(target, out);
    std::string buffer;
    size_t used = 0, number = firstLine;
    bool more = true, going = true;
    while (going) {
        size_t eol = buffer.find('\n', used);
        if (eol == std::string::npos && more) {
            buffer.erase(0, used);
            used = 0;
            more = input.Read(buffer, kChunkBytes) > 0;
            continue;
        }
        if (eol == std::string::npos) {
            if (used >= buffer.size()) break;
            eol = buffer.size();  // a last line without its line end
        }
        size_t stop = eol;
        if (stop > used && buffer[stop - 1] == '\r') --stop;
        going = lines.Line(std::string_view(buffer).substr(used, stop - used), number++);
        used = eol + 1;
    }
    out.Finish(number, false);
}

void ParseBinaryData(const DataTarget& target, DataInput& input) {
    BlockBuilder out(target);
    const Recording& r = target.r;
    const size_t k = r.analog.size(), m = r.status.size();
    const size_t size = BinarySampleBytes(r), width = AnalogBytes(r.format);
    const size_t chunk = std::max<size_t>(1, kChunkBytes / size) * size;
    std::string buffer;
    size_t base = input.Begin();  // file offset of buffer[0]
    size_t used = 0;
    bool more = true;
    while (out.Wanted()) {
        if (buffer.size() - used < size) {
            if (!more) break;
            base += used;
            buffer.erase(0, used);
            used = 0;
            more = input.Read(buffer, chunk) > 0;
            continue;
        }
        const char* at = buffer.data() + used;
        const uint32_t stamp = Le32(at + 4);
        out.Begin(static_cast<long>(Le32(at)), stamp != 0xFFFFFFFFu, stamp, base + used + 4, true);
        at += 8;
        for (size_t j = 0; j < k; ++j, at += width) {
            double x = kMissing;
            if (r.format == DataFormat::kBinary) {
                const uint16_t raw = Le16(at);
                if (raw != 0x8000) x = static_cast<int16_t>(raw);
            } else if (r.format == DataFormat::kBinary32) {
                const uint32_t raw = Le32(at);
                if (raw != 0x80000000u) x = static_cast<int32_t>(raw);
            } else {
                const uint32_t raw = Le32(at);
                float f;
                std::memcpy(&f, &raw, sizeof f);
                if (std::isfinite(f)) x = f;  // NaN and infinities mark a missing value
            }
            out.Analog(j, x);
        }
        for (size_t j = 0; j < m; ++j) out.Status(j, (Le16(at + j / 16 * 2) >> (j % 16)) & 1);
        out.End();
        used += size;
    }
    // What follows the samples read: surplus, padding or a cut last sample.
    const size_t end = base + used;
    std::string rest = buffer.substr(used);
    size_t surplus = rest.size();
    bool padding = AllPadding(rest.data(), rest.size());
    for (std::string more2; input.Read(more2, kChunkBytes) > 0; more2.clear()) {
        surplus += more2.size();
        padding = padding && AllPadding(more2.data(), more2.size());
    }
    if (surplus > 0) {
        const std::string bytes = std::to_string(surplus) + " bytes";
        if (padding) {
            out.Note(end, true, "padding", bytes + " of Ctrl-Z or NUL padding after the last sample, ignored");
        } else if (!out.Wanted()) {
            out.Note(end, true, "surplus",
                     bytes + " after the " + std::to_string(out.Count()) + " samples the configuration counts, ignored");
        } else {
            out.Note(end, true, "truncated",
                     "a truncated last sample (" + bytes + " of the " + std::to_string(size) + " each " +
                         FormatName(r.format) + " sample takes), dropped");
        }
    }
    out.Finish(end + surplus, true);
}

}  // namespace comtrade
