#include "reader.h"

#include <cctype>
#include <cmath>
#include <fstream>
#include <sstream>

#include "config_parser.h"
#include "data_parser.h"
#include "refusal.h"
#include "text_encoding.h"

namespace comtrade {

namespace {

constexpr size_t kMaxFileBytes = size_t{1} << 31;

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string ReadBytes(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    if (!ok) return {};
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<unsigned long long>(size) > kMaxFileBytes) throw Refusal(path + ": too large to read");
    in.seekg(0);
    std::string bytes(static_cast<size_t>(size), '\0');
    in.read(&bytes[0], size);
    ok = static_cast<bool>(in) || size == 0;
    return bytes;
}

// Configuration bytes to UTF-8 lines; a NUL byte means it is no text file.
std::vector<TextLine> ConfigLines(const std::string& file, const std::string& bytes, size_t begin, size_t end,
                                  size_t firstLine, const ReadOptions& options, Recording& r) {
    const std::string raw = bytes.substr(begin, end - begin);
    const size_t nul = raw.find('\0');
    if (nul != std::string::npos) {
        RefuseAtByte(file, begin + nul, "not a COMTRADE configuration: expected text, found a NUL byte");
    }
    r.encoding = options.encoding.empty() ? DetectEncoding(raw) : options.encoding;
    std::string text;
    if (!DecodeToUtf8(raw, r.encoding, text)) throw Refusal("unknown text encoding '" + options.encoding + "'");
    return SplitLines(text, 0, text.size(), firstLine);
}

long ExpectedSamples(const Recording& r) { return r.rates.empty() ? 0 : r.rates.back().lastSample; }

void CheckCount(const std::string& datName, const Recording& r) {
    const size_t expected = static_cast<size_t>(ExpectedSamples(r));
    if (r.SampleCount() != expected) {
        throw Refusal(datName + ": expected " + std::to_string(expected) +
                      " samples (the last sample number of the configuration's rate table), found " +
                      std::to_string(r.SampleCount()));
    }
}

// Times from the rate table: each sample lasts one period of its segment's
// rate. Without a usable rate, from the timestamps times timemult.
void SampleTimes(const std::string& datName, const RawTimes& raw, bool binary, Recording& r) {
    const size_t n = r.SampleCount();
    r.seconds.resize(n);
    if (r.TimesFromRates()) {
        double segmentStart = 0;
        size_t i = 0;
        long first = 1;
        for (const Rate& rate : r.rates) {
            for (; i < n && static_cast<long>(i) + 1 <= rate.lastSample; ++i) {
                r.seconds[i] = segmentStart + static_cast<double>(static_cast<long>(i) + 1 - first) / rate.hz;
            }
            segmentStart += static_cast<double>(rate.lastSample - first + 1) / rate.hz;
            first = rate.lastSample + 1;
        }
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        if (raw.stamps[i] < 0) {
            const std::string what = "expected a timestamp: the configuration gives no sampling rate";
            if (binary) RefuseAtByte(datName, raw.where[i] + 4, what);
            RefuseAt(datName, TextLine{raw.where[i], ""}, what);
        }
        r.seconds[i] = static_cast<double>(raw.stamps[i]) * r.timemult / 1e6;
    }
}

std::string DataPathFor(const std::string& cfgPath) {
    const size_t dot = cfgPath.find_last_of('.');
    const size_t slash = cfgPath.find_last_of('/');
    const std::string base = (dot == std::string::npos || (slash != std::string::npos && dot < slash))
                                 ? cfgPath
                                 : cfgPath.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : cfgPath.substr(dot);
    const bool lower = ext.size() > 1 && std::islower(static_cast<unsigned char>(ext[1]));
    static const char* const kLowerFirst[] = {".dat", ".DAT", ".Dat"};
    static const char* const kUpperFirst[] = {".DAT", ".dat", ".Dat"};
    for (size_t i = 0; i < 3; ++i) {
        const char* e = lower ? kLowerFirst[i] : kUpperFirst[i];
        std::ifstream probe(base + e);
        if (probe) return base + e;
    }
    return base + (lower ? ".dat" : ".DAT");
}

bool LooksLikeCff(const std::string& bytes) {
    const size_t start = bytes.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return false;
    const size_t eol = bytes.find('\n', start);
    const std::string first = Upper(bytes.substr(start, eol == std::string::npos ? std::string::npos : eol - start));
    return first.compare(0, 3, "---") == 0 && first.find("FILE TYPE") != std::string::npos;
}

// A section header of a .CFF: "--- file type: DAT BINARY: 1234 ---".
struct Section {
    std::string type;    // CFG, INF, HDR or DAT
    std::string format;  // for DAT
    long long bytes = -1;
};

bool SectionHeader(const std::string& line, Section& s) {
    std::string t = Upper(line);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
    if (t.compare(0, 3, "---") != 0 || t.size() < 6 || t.compare(t.size() - 3, 3, "---") != 0) return false;
    t = t.substr(3, t.size() - 6);
    const size_t key = t.find("FILE TYPE:");
    if (key == std::string::npos) return false;
    std::istringstream words(t.substr(key + 10));
    std::string word;
    std::vector<std::string> parts;
    while (words >> word) {
        std::string piece;
        for (char c : word) {
            if (c == ':') {
                if (!piece.empty()) parts.push_back(piece);
                piece.clear();
            } else {
                piece += c;
            }
        }
        if (!piece.empty()) parts.push_back(piece);
    }
    if (parts.empty()) return false;
    s = Section{};
    s.type = parts[0];
    if (parts.size() > 1) s.format = parts[1];
    if (parts.size() > 2) {
        char* end = nullptr;
        s.bytes = std::strtoll(parts[2].c_str(), &end, 10);
        if (*end != '\0' || s.bytes < 0) s.bytes = -2;
    }
    return true;
}

void ReadDataSection(const std::string& file, const std::string& bytes, size_t begin, size_t end, size_t firstLine,
                     Recording& r) {
    RawTimes raw;
    const bool binary = r.format != DataFormat::kAscii;
    if (binary) ParseBinaryData(file, bytes, begin, end, r, raw);
    else ParseAsciiData(file, bytes, begin, end, firstLine, r, raw);
    CheckCount(file, r);
    SampleTimes(file, raw, binary, r);
}

}  // namespace

const char* FormatName(DataFormat format) {
    switch (format) {
        case DataFormat::kAscii: return "ASCII";
        case DataFormat::kBinary: return "BINARY";
        case DataFormat::kBinary32: return "BINARY32";
        case DataFormat::kFloat32: return "FLOAT32";
    }
    return "?";
}

bool Recording::TimesFromRates() const {
    if (rates.empty()) return false;
    for (const Rate& rate : rates) {
        if (!(rate.hz > 0)) return false;
    }
    return true;
}

std::string ReadPair(const std::string& cfgName, const std::string& cfgBytes, const std::string& datName,
                     const std::string& datBytes, const ReadOptions& options, Recording& out) {
    out = Recording{};
    out.path = cfgName;
    try {
        const auto lines = ConfigLines(cfgName, cfgBytes, 0, cfgBytes.size(), 1, options, out);
        ParseConfiguration(cfgName, lines, out);
        ReadDataSection(datName, datBytes, 0, datBytes.size(), 1, out);
    } catch (const Refusal& e) {
        return e.what();
    }
    return {};
}

std::string ReadCff(const std::string& name, const std::string& bytes, const ReadOptions& options, Recording& out) {
    out = Recording{};
    out.path = name;
    try {
        size_t pos = 0, lineNo = 1;
        bool haveCfg = false, haveDat = false;
        Section open;
        size_t sectionBegin = 0, sectionLine = 0;
        // Closes the open section at `end`: CFG and ASCII DAT are lines, INF and HDR are skipped.
        auto close = [&](size_t end) {
            if (open.type == "CFG") {
                const auto lines = ConfigLines(name, bytes, sectionBegin, end, sectionLine, options, out);
                ParseConfiguration(name, lines, out);
                haveCfg = true;
            } else if (open.type == "DAT") {
                ReadDataSection(name, bytes, sectionBegin, end, sectionLine, out);
                haveDat = true;
            }
            open = Section{};
        };
        while (pos < bytes.size()) {
            size_t eol = bytes.find('\n', pos);
            const size_t next = eol == std::string::npos ? bytes.size() : eol + 1;
            std::string line = bytes.substr(pos, next - pos);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            Section s;
            if (!SectionHeader(line, s)) {
                if (open.type.empty() && line.find_first_not_of(" \t\x1A") != std::string::npos) {
                    RefuseAt(name, TextLine{lineNo, line},
                             "expected a section line like '--- file type: CFG ---', found " + Quoted(line));
                }
                pos = next;
                ++lineNo;
                continue;
            }
            close(pos);
            const TextLine here{lineNo, line};
            if (s.type != "CFG" && s.type != "INF" && s.type != "HDR" && s.type != "DAT") {
                RefuseAt(name, here, "expected a section of type CFG, INF, HDR or DAT, found " + Quoted(s.type));
            }
            if ((s.type == "CFG" && haveCfg) || (s.type == "DAT" && haveDat)) {
                RefuseAt(name, here, "a second " + s.type + " section");
            }
            pos = next;
            ++lineNo;
            if (s.type == "DAT") {
                if (!haveCfg) RefuseAt(name, here, "expected the CFG section before the DAT section");
                if (s.format.empty() || s.format != FormatName(out.format)) {
                    RefuseAt(name, here,
                             "expected the data type the configuration names (" + std::string(FormatName(out.format)) +
                                 "), found " + Quoted(s.format));
                }
                if (out.format != DataFormat::kAscii) {
                    if (s.bytes < 0) RefuseAt(name, here, "expected the byte count of the binary DAT section");
                    const size_t count = static_cast<size_t>(s.bytes);
                    if (count > bytes.size() - pos) {
                        RefuseAtByte(name, bytes.size(),
                                     "truncated: the DAT section announces " + std::to_string(count) +
                                         " bytes, the file ends after " + std::to_string(bytes.size() - pos));
                    }
                    open = s;
                    sectionBegin = pos;
                    sectionLine = lineNo;
                    close(pos + count);
                    pos += count;
                    // The binary section need not end at a line end; count lines from here on loosely.
                    continue;
                }
            }
            open = s;
            sectionBegin = pos;
            sectionLine = lineNo;
        }
        close(bytes.size());
        if (!haveCfg) throw Refusal(name + ": expected a '--- file type: CFG ---' section, found none");
        if (!haveDat) throw Refusal(name + ": expected a '--- file type: DAT ... ---' section, found none");
    } catch (const Refusal& e) {
        return e.what();
    }
    return {};
}

std::string ReadRecording(const std::string& path, const ReadOptions& options, Recording& out) {
    try {
        bool ok = false;
        const std::string bytes = ReadBytes(path, ok);
        if (!ok) return "can't read " + path;
        const std::string ext = Upper(path.size() >= 4 ? path.substr(path.size() - 4) : "");
        if (ext == ".CFF" || LooksLikeCff(bytes)) return ReadCff(path, bytes, options, out);
        const std::string datPath = DataPathFor(path);
        const std::string data = ReadBytes(datPath, ok);
        if (!ok) return "can't read the data file " + datPath;
        return ReadPair(path, bytes, datPath, data, options, out);
    } catch (const Refusal& e) {
        return e.what();
    }
}

}  // namespace comtrade
