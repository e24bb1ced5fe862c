#include "reader.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "config_parser.h"
#include "data_parser.h"
#include "refusal.h"
#include "text_encoding.h"
#include "warnings.h"

namespace comtrade {

namespace {

// A configuration, or a .CFF (which holds the data too), is read whole; a
// separate data file is streamed. A file this large is surely something else.
constexpr size_t kMaxWholeFileBytes = size_t{1} << 31;

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
    if (size < 0 || static_cast<unsigned long long>(size) > kMaxWholeFileBytes) {
        throw Refusal(path + ": too large to read");
    }
    in.seekg(0);
    std::string bytes(static_cast<size_t>(size), '\0');
    in.read(&bytes[0], size);
    ok = static_cast<bool>(in) || size == 0;
    return bytes;
}

// Configuration bytes to UTF-8 lines. Ctrl-Z or NUL padding at the end is
// dropped; a NUL anywhere else means it is no text file.
std::vector<TextLine> ConfigLines(const std::string& file, const std::string& bytes, size_t begin, size_t end,
                                  size_t firstLine, const ReadOptions& options, Warnings& warnings, Recording& r) {
    std::string raw = bytes.substr(begin, end - begin);
    const size_t last = raw.find_last_not_of(std::string("\0\x1A \t\r\n", 6));
    const size_t pad = raw.find_first_of(std::string("\0\x1A", 2), last == std::string::npos ? 0 : last + 1);
    if (pad != std::string::npos) {
        warnings.AtByte(file, begin + pad, "padding", "Ctrl-Z or NUL padding after the last line, ignored");
        raw.resize(pad);
    }
    const size_t nul = raw.find('\0');
    if (nul != std::string::npos) {
        RefuseAtByte(file, begin + nul, "not a COMTRADE configuration: expected text, found a NUL byte");
    }
    r.encoding = options.encoding.empty() ? DetectEncoding(raw) : options.encoding;
    std::string text;
    if (!DecodeToUtf8(raw, r.encoding, text)) throw Refusal("unknown text encoding '" + options.encoding + "'");
    return SplitLines(text, 0, text.size(), firstLine);
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

// One read: the options, the warnings gathered, where the samples go.
struct Job {
    const ReadOptions& options;
    Recording& out;
    const BlockSink& sink;
    Warnings warnings{options.strict};
};

void ReadData(Job& job, const std::string& file, DataInput& input, size_t firstLine) {
    const DataTarget target{file, job.out, job.warnings, job.sink};
    if (job.out.format == DataFormat::kAscii) ParseAsciiData(target, input, firstLine);
    else ParseBinaryData(target, input);
}

void ReadConfig(Job& job, const std::string& file, const std::string& bytes, size_t begin, size_t end,
                size_t firstLine) {
    const auto lines = ConfigLines(file, bytes, begin, end, firstLine, job.options, job.warnings, job.out);
    ParseConfiguration(file, lines, job.warnings, job.out);
}

// The sections of a .CFF, in order: CFG first, DAT after it, INF and HDR skipped.
class CffReader {
public:
    CffReader(Job& job, const std::string& name, const std::string& bytes) : job_(job), name_(name), bytes_(bytes) {}

    void Read() {
        while (pos_ < bytes_.size()) {
            const size_t eol = bytes_.find('\n', pos_);
            const size_t next = eol == std::string::npos ? bytes_.size() : eol + 1;
            std::string line = bytes_.substr(pos_, next - pos_);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            Section s;
            if (SectionHeader(line, s)) {
                Close(pos_);
                Open(s, TextLine{lineNo_, line}, next);
                continue;
            }
            if (open_.type.empty() && line.find_first_not_of(" \t\x1A") != std::string::npos) {
                RefuseAt(name_, TextLine{lineNo_, line},
                         "expected a section line like '--- file type: CFG ---', found " + Quoted(line));
            }
            pos_ = next;
            ++lineNo_;
        }
        Close(bytes_.size());
        if (!haveCfg_) throw Refusal(name_ + ": expected a '--- file type: CFG ---' section, found none");
        if (!haveDat_) throw Refusal(name_ + ": expected a '--- file type: DAT ... ---' section, found none");
    }

private:
    void Open(const Section& s, const TextLine& here, size_t next) {
        if (s.type != "CFG" && s.type != "INF" && s.type != "HDR" && s.type != "DAT") {
            RefuseAt(name_, here, "expected a section of type CFG, INF, HDR or DAT, found " + Quoted(s.type));
        }
        if ((s.type == "CFG" && haveCfg_) || (s.type == "DAT" && haveDat_)) {
            RefuseAt(name_, here, "a second " + s.type + " section");
        }
        pos_ = next;
        ++lineNo_;
        open_ = s;
        begin_ = pos_;
        beginLine_ = lineNo_;
        if (s.type == "DAT") OpenData(s, here);
    }

    // A binary DAT section is as long as its header says and need not end
    // at a line end; lines are counted loosely after it.
    void OpenData(const Section& s, const TextLine& here) {
        const Recording& r = job_.out;
        if (!haveCfg_) RefuseAt(name_, here, "expected the CFG section before the DAT section");
        if (s.format.empty() || s.format != FormatName(r.format)) {
            RefuseAt(name_, here, "expected the data type the configuration names (" + std::string(FormatName(r.format)) +
                                      "), found " + Quoted(s.format));
        }
        if (r.format == DataFormat::kAscii) return;
        if (s.bytes < 0) RefuseAt(name_, here, "expected the byte count of the binary DAT section");
        const size_t count = static_cast<size_t>(s.bytes);
        if (count > bytes_.size() - pos_) {
            RefuseAtByte(name_, bytes_.size(),
                         "truncated: the DAT section announces " + std::to_string(count) +
                             " bytes, the file ends after " + std::to_string(bytes_.size() - pos_));
        }
        Close(pos_ + count);
        pos_ += count;
    }

    // Closes the open section at `end`: CFG and DAT are read, INF and HDR skipped.
    void Close(size_t end) {
        if (open_.type == "CFG") {
            ReadConfig(job_, name_, bytes_, begin_, end, beginLine_);
            haveCfg_ = true;
        } else if (open_.type == "DAT") {
            DataInput input(bytes_, begin_, end);
            ReadData(job_, name_, input, beginLine_);
            haveDat_ = true;
        }
        open_ = Section{};
    }

    Job& job_;
    const std::string& name_;
    const std::string& bytes_;
    size_t pos_ = 0, lineNo_ = 1, begin_ = 0, beginLine_ = 0;
    bool haveCfg_ = false, haveDat_ = false;
    Section open_;
};

// Runs `read` with a fresh recording; the refusal text, or empty.
template <typename Read>
std::string Guarded(const std::string& name, const ReadOptions& options, Recording& out, const BlockSink& sink,
                    Read read) {
    out = Recording{};
    out.path = name;
    try {
        Job job{options, out, sink};
        read(job);
        out.warnings = job.warnings.Texts();
    } catch (const Refusal& e) {
        return e.what();
    }
    return {};
}

// Keeps every block in the recording itself.
BlockSink KeepIn(Recording& r) {
    return [&r](const SampleBlock& b) {
        if (r.values.size() != b.values.size()) r.values.resize(b.values.size());
        if (r.states.size() != b.states.size()) r.states.resize(b.states.size());
        r.numbers.insert(r.numbers.end(), b.numbers.begin(), b.numbers.end());
        r.seconds.insert(r.seconds.end(), b.seconds.begin(), b.seconds.end());
        for (size_t j = 0; j < b.values.size(); ++j) {
            r.values[j].insert(r.values[j].end(), b.values[j].begin(), b.values[j].end());
        }
        for (size_t j = 0; j < b.states.size(); ++j) {
            r.states[j].insert(r.states[j].end(), b.states[j].begin(), b.states[j].end());
        }
    };
}

// Every channel has its (possibly empty) series even without samples.
void ShapeSeries(Recording& r) {
    r.values.resize(r.analog.size());
    r.states.resize(r.status.size());
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
    const BlockSink sink = KeepIn(out);
    std::string e = Guarded(cfgName, options, out, sink, [&](Job& job) {
        ReadConfig(job, cfgName, cfgBytes, 0, cfgBytes.size(), 1);
        DataInput input(datBytes, 0, datBytes.size());
        ReadData(job, datName, input, 1);
    });
    ShapeSeries(out);
    return e;
}

std::string ReadCff(const std::string& name, const std::string& bytes, const ReadOptions& options, Recording& out) {
    const BlockSink sink = KeepIn(out);
    std::string e = Guarded(name, options, out, sink, [&](Job& job) { CffReader(job, name, bytes).Read(); });
    ShapeSeries(out);
    return e;
}

std::string StreamRecording(const std::string& path, const ReadOptions& options, Recording& out,
                            const BlockSink& sink) {
    try {
        bool ok = false;
        const std::string bytes = ReadBytes(path, ok);
        if (!ok) return "can't read " + path;
        const std::string ext = Upper(path.size() >= 4 ? path.substr(path.size() - 4) : "");
        if (ext == ".CFF" || LooksLikeCff(bytes)) {
            return Guarded(path, options, out, sink, [&](Job& job) { CffReader(job, path, bytes).Read(); });
        }
        const std::string datPath = DataPathFor(path);
        return Guarded(path, options, out, sink, [&](Job& job) {
            ReadConfig(job, path, bytes, 0, bytes.size(), 1);
            std::unique_ptr<std::FILE, int (*)(std::FILE*)> data(std::fopen(datPath.c_str(), "rb"), std::fclose);
            if (!data) throw Refusal("can't read the data file " + datPath);
            DataInput input(data.get());
            ReadData(job, datPath, input, 1);
            if (std::ferror(data.get())) throw Refusal("can't read the data file " + datPath);
        });
    } catch (const Refusal& e) {
        return e.what();
    }
}

std::string ReadRecording(const std::string& path, const ReadOptions& options, Recording& out) {
    const BlockSink sink = KeepIn(out);
    std::string e = StreamRecording(path, options, out, sink);
    ShapeSeries(out);
    return e;
}

}  // namespace comtrade
