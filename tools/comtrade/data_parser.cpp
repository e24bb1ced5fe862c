#include "data_parser.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "refusal.h"

namespace comtrade {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

uint32_t Le32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

uint16_t Le16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

size_t AnalogBytes(DataFormat f) { return f == DataFormat::kBinary ? 2 : 4; }

void Prepare(Recording& r) {
    r.values.assign(r.analog.size(), {});
    r.states.assign(r.status.size(), {});
}

bool WholeNumber(const std::string& text, long long& v) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    v = std::strtoll(text.c_str(), &end, 10);
    return end == text.c_str() + text.size() && errno == 0;
}

}  // namespace

size_t BinarySampleBytes(const Recording& r) {
    return 8 + r.analog.size() * AnalogBytes(r.format) + (r.status.size() + 15) / 16 * 2;
}

void ParseAsciiData(const std::string& file, const std::string& bytes, size_t begin, size_t end, size_t firstLine,
                    Recording& r, RawTimes& times) {
    Prepare(r);
    const size_t k = r.analog.size(), m = r.status.size();
    const size_t expected = 2 + k + m;
    for (const TextLine& line : SplitLines(bytes, begin, end, firstLine)) {
        // Blank lines, and the end-of-file mark of old writers, hold no sample.
        if (line.text.find_first_not_of(" \t\x1A") == std::string::npos) continue;
        const std::vector<std::string> f = SplitFields(line.text);
        if (f.size() != expected) {
            RefuseAt(file, line,
                     "expected " + std::to_string(expected) + " fields (sample number, timestamp, " +
                         std::to_string(k) + " analog, " + std::to_string(m) + " status), found " +
                         std::to_string(f.size()));
        }
        long long v = 0;
        if (!WholeNumber(f[0], v)) RefuseAt(file, line, "expected the sample number, found " + Quoted(f[0]));
        r.numbers.push_back(static_cast<long>(v));
        if (f[1].empty()) {
            times.stamps.push_back(-1);
        } else if (!WholeNumber(f[1], v) || v < 0) {
            RefuseAt(file, line, "expected the timestamp (a whole number), found " + Quoted(f[1]));
        } else {
            times.stamps.push_back(v);
        }
        times.where.push_back(line.number);
        for (size_t j = 0; j < k; ++j) {
            const std::string& text = f[2 + j];
            double x = kMissing;
            if (!text.empty()) {
                char* stop = nullptr;
                x = std::strtod(text.c_str(), &stop);
                if (stop != text.c_str() + text.size() || !std::isfinite(x)) {
                    RefuseAt(file, line,
                             "expected analog value " + std::to_string(j + 1) + " (a number), found " + Quoted(text));
                }
                if (x == 99999) x = kMissing;
            }
            const AnalogChannel& c = r.analog[j];
            r.values[j].push_back(std::isnan(x) ? kMissing : c.a * x + c.b);
        }
        for (size_t j = 0; j < m; ++j) {
            const std::string& text = f[2 + k + j];
            // The driver stores a whole status word per column, so any 32-bit value is kept.
            if (!WholeNumber(text, v) || v < INT32_MIN || v > INT32_MAX) {
                RefuseAt(file, line, "expected status value " + std::to_string(j + 1) + ", found " + Quoted(text));
            }
            r.states[j].push_back(static_cast<int32_t>(v));
        }
    }
}

void ParseBinaryData(const std::string& file, const std::string& bytes, size_t begin, size_t end, Recording& r,
                     RawTimes& times) {
    Prepare(r);
    const size_t k = r.analog.size(), m = r.status.size();
    const size_t size = BinarySampleBytes(r);
    const size_t width = AnalogBytes(r.format);
    const size_t length = end - begin;
    if (length % size != 0) {
        const size_t cut = begin + length / size * size;
        RefuseAtByte(file, cut,
                     "truncated sample: each " + std::string(FormatName(r.format)) + " sample takes " +
                         std::to_string(size) + " bytes (number, timestamp, " + std::to_string(k) + " analog, " +
                         std::to_string((m + 15) / 16) + " status words), only " + std::to_string(end - cut) +
                         " remain");
    }
    const size_t count = length / size;
    for (auto& v : r.values) v.reserve(count);
    for (auto& v : r.states) v.reserve(count);
    for (size_t s = 0; s < count; ++s) {
        size_t at = begin + s * size;
        r.numbers.push_back(static_cast<long>(Le32(bytes, at)));
        const uint32_t stamp = Le32(bytes, at + 4);
        times.stamps.push_back(stamp == 0xFFFFFFFFu ? -1 : static_cast<int64_t>(stamp));
        times.where.push_back(at);
        at += 8;
        for (size_t j = 0; j < k; ++j, at += width) {
            double x = kMissing;
            if (r.format == DataFormat::kBinary) {
                const uint16_t raw = Le16(bytes, at);
                if (raw != 0x8000) x = static_cast<int16_t>(raw);
            } else if (r.format == DataFormat::kBinary32) {
                const uint32_t raw = Le32(bytes, at);
                if (raw != 0x80000000u) x = static_cast<int32_t>(raw);
            } else {
                const uint32_t raw = Le32(bytes, at);
                float f;
                std::memcpy(&f, &raw, sizeof f);
                if (std::isfinite(f)) x = f;  // NaN and infinities mark a missing value
            }
            const AnalogChannel& c = r.analog[j];
            r.values[j].push_back(std::isnan(x) ? kMissing : c.a * x + c.b);
        }
        for (size_t j = 0; j < m; ++j) {
            const uint16_t word = Le16(bytes, at + j / 16 * 2);
            r.states[j].push_back((word >> (j % 16)) & 1);
        }
    }
}

}  // namespace comtrade
