#include "recording_place.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "gbk_text.h"

namespace vorlan_host {

const char* const kChannelFileName = "通道配置文件.txt";

namespace {

constexpr const char* kDefaultDir = "/var/lib/vorlan/故障录波/";
constexpr size_t kMaxChannelFileBytes = 1 << 20;  // the driver reads no further

bool IsSpace(unsigned char b) { return b == ' ' || (b >= '\t' && b <= '\r'); }

}  // namespace

std::string RecordingDirectory() {
    const char* env = std::getenv("VORLAN_RECORDING_DIR");
    std::string dir = env && *env ? env : kDefaultDir;
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string GbkTextProblem(const std::string& bytes) {
    // UTF-8 Chinese often passes as GBK byte pairs; text that is all valid
    // UTF-8 with characters beyond ASCII is taken for what it most likely is.
    bool wide = false;
    for (char c : bytes) wide = wide || static_cast<unsigned char>(c) >= 0x80;
    if (wide && IsUtf8(bytes)) return "it is UTF-8 text, not GBK";
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) continue;
        if (b == 0x80 || b == 0xFF) return "byte " + std::to_string(i) + " is not GBK";
        const unsigned char t = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        if (t < 0x40 || t == 0x7F || t == 0xFF) return "byte " + std::to_string(i) + " starts a broken GBK character";
        ++i;
    }
    return {};
}

size_t CountTokens(const std::string& bytes) {
    size_t n = 0;
    bool inToken = false;
    for (char c : bytes) {
        const bool space = IsSpace(static_cast<unsigned char>(c));
        if (!space && !inToken) ++n;
        inToken = !space;
    }
    return n;
}

namespace {

struct Token {
    std::string text;
    size_t line = 0;
};

std::vector<Token> SplitTokens(const std::string& bytes) {
    std::vector<Token> tokens;
    size_t line = 1;
    bool inToken = false;
    for (char c : bytes) {
        const bool space = IsSpace(static_cast<unsigned char>(c));
        if (!space) {
            if (!inToken) tokens.push_back({{}, line});
            tokens.back().text += c;
        }
        if (c == '\n') ++line;
        inToken = !space;
    }
    return tokens;
}

bool IsNumber(const std::string& text) {
    if (text.empty()) return false;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

// What each field of a row must be.
enum class Field { Index, Text, Number, State };

struct Row {
    const char* kind;  // "analog channel" or "digital channel"
    int index;
    std::vector<std::pair<const char*, Field>> fields;
};

std::vector<Row> ChannelRows() {
    const std::vector<std::pair<const char*, Field>> analog = {
        {"index", Field::Index},       {"identifier", Field::Text}, {"phase", Field::Text},
        {"circuit", Field::Text},      {"unit", Field::Text},       {"multiplier a", Field::Number},
        {"offset b", Field::Number},   {"skew", Field::Number},     {"minimum", Field::Number},
        {"maximum", Field::Number}};
    const std::vector<std::pair<const char*, Field>> digital = {
        {"index", Field::Index}, {"identifier", Field::Text}, {"normal state", Field::State}};
    std::vector<Row> rows;
    for (int i = 1; i <= 16; ++i) rows.push_back({"analog channel", i, analog});
    for (int i = 1; i <= 2; ++i) rows.push_back({"digital channel", i, digital});
    return rows;
}

// A file that keeps one row to a line (as the template does): the first line
// whose token count isn't its row's. Empty when the file has another layout
// or every line fits.
std::string LineLayoutProblem(const std::vector<Token>& tokens, const std::vector<Row>& rows) {
    std::vector<std::pair<size_t, size_t>> lines;  // line number, tokens on it
    for (const Token& t : tokens) {
        if (lines.empty() || lines.back().first != t.line) lines.push_back({t.line, 0});
        ++lines.back().second;
    }
    if (lines.size() != rows.size() + 1) return {};
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const auto& [line, count] = lines[i + 1];
        if (count == row.fields.size()) continue;
        std::string names;
        for (const auto& field : row.fields) names += (names.empty() ? "" : ", ") + std::string(field.first);
        return "line " + std::to_string(line) + ": " + std::to_string(count) + " tokens where " + row.kind + " " +
               std::to_string(row.index) + " needs " + std::to_string(row.fields.size()) + " (" + names +
               "); a missing or extra token moves every later one into the wrong field";
    }
    return {};
}

}  // namespace

std::string ChannelFileProblem(const std::string& bytes) {
    const std::vector<Token> tokens = SplitTokens(bytes);
    if (tokens.empty()) return "line 1: the file is empty; it needs the station name and the channel rows";
    const std::vector<Row> rows = ChannelRows();
    if (std::string layout = LineLayoutProblem(tokens, rows); !layout.empty()) return layout;
    size_t at = 1;  // the station name comes first and may be anything
    for (const Row& row : rows) {
        for (const auto& [name, kind] : row.fields) {
            const std::string what = std::string(row.kind) + " " + std::to_string(row.index) + ", " + name;
            if (at >= tokens.size()) {
                return "line " + std::to_string(tokens.back().line) + ": the file ends after " +
                       std::to_string(tokens.size()) + " of " + std::to_string(kChannelFileTokens) +
                       " tokens, before the " + what + "; a token is missing";
            }
            const Token& t = tokens[at++];
            std::string expected;
            if (kind == Field::Index && t.text != std::to_string(row.index)) {
                expected = "the number " + std::to_string(row.index);
            } else if (kind == Field::Number && !IsNumber(t.text)) {
                expected = "a number";
            } else if (kind == Field::State && t.text != "0" && t.text != "1") {
                expected = "0 or 1";
            }
            if (!expected.empty()) {
                return "line " + std::to_string(t.line) + ": '" + GbkToUtf8(t.text) + "' stands where the " + what +
                       " (" + expected + ") belongs; a token is missing or one too many before it";
            }
        }
    }
    return {};
}

Status CheckRecordingPlace(const std::string& dir, size_t* tokens) {
    const std::string noSlash = dir.size() > 1 && dir.back() == '/' ? dir.substr(0, dir.size() - 1) : dir;
    const std::string fix = " (or point VORLAN_RECORDING_DIR at another directory)";
    struct stat st {};
    if (stat(noSlash.c_str(), &st) != 0) {
        return {kExitFile, "the recording directory " + noSlash + " does not exist (" + std::strerror(errno) +
                               "): create it with mkdir -p '" + noSlash + "'" + fix};
    }
    if (!S_ISDIR(st.st_mode)) {
        return {kExitFile, "the recording directory " + noSlash + " is not a directory" + fix};
    }
    // Try what the driver will do: create a file there.
    const std::string probe = dir + ".vorlan-write-check-" + std::to_string(getpid());
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return {kExitFile, "the recording directory " + noSlash + " is not writable (" + std::strerror(errno) +
                               "): give your user write access to it" + fix};
    }
    close(fd);
    unlink(probe.c_str());

    const std::string file = dir + kChannelFileName;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        const int e = errno;
        if (stat(file.c_str(), &st) != 0) {
            return {kExitFile, "the channel configuration file " + file +
                                   " is missing: the driver takes the station name and the channel rows of every "
                                   "recording from it; write a template with: vorlan-host channel-file --init '" +
                                   noSlash + "', then fill it in"};
        }
        return {kExitFile, "the channel configuration file " + file + " can't be read (" + std::strerror(e) +
                               "): give your user read access to it"};
    }
    std::string bytes(kMaxChannelFileBytes, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (in.bad()) return {kExitFile, "the channel configuration file " + file + " can't be read"};
    if (std::string problem = GbkTextProblem(bytes); !problem.empty()) {
        return {kExitFile, "the channel configuration file " + file + " is not GBK text (" + problem +
                               "): convert it, e.g. iconv -f UTF-8 -t GBK old.txt > '" + file + "'"};
    }
    if (tokens) *tokens = CountTokens(bytes);
    return Status::Ok();
}

}  // namespace vorlan_host
