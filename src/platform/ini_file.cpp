// SPDX-License-Identifier: Apache-2.0
#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorlan {
namespace {

constexpr size_t kMaxLine = 1024;  // longer lines are reported and skipped

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trim(const std::string& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && Blank(s[begin])) ++begin;
    while (end > begin && Blank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

// A comment starts the line or follows a blank, so "a#b" stays a value.
std::string WithoutComment(const std::string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if ((s[i] == ';' || s[i] == '#') && (i == 0 || Blank(s[i - 1]))) return s.substr(0, i);
    }
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

}  // namespace

IniFile ParseIni(const std::string& text) {
    IniFile ini;
    std::string section;
    bool inSection = false;
    int number = 0;
    // Editors on some hosts start the file with a UTF-8 byte order mark.
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        ++number;
        const std::string where = "line " + std::to_string(number) + ": ";
        const std::string raw = text.substr(start, end - start);
        start = end + 1;
        if (raw.size() > kMaxLine) {
            ini.problems.push_back(where + "longer than " + std::to_string(kMaxLine) + " characters");
            continue;
        }
        if (raw.find('\0') != std::string::npos) {
            ini.problems.push_back(where + "contains a NUL character");
            continue;
        }
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            // Port names may hold '#' or ';': the header runs to its first ']'.
            const size_t close = line.find(']');
            const std::string after = close == std::string::npos ? "" : Trim(WithoutComment(line.substr(close + 1)));
            if (close == std::string::npos || !after.empty() || Trim(line.substr(1, close - 1)).empty()) {
                ini.problems.push_back(where + "not a section header");
                inSection = false;
                continue;
            }
            section = Trim(line.substr(1, close - 1));
            inSection = true;
            continue;
        }
        const std::string content = Trim(WithoutComment(line));
        const size_t equals = content.find('=');
        if (equals == std::string::npos || Trim(content.substr(0, equals)).empty()) {
            ini.problems.push_back(where + "not a key = value line");
            continue;
        }
        if (!inSection) {
            ini.problems.push_back(where + "outside any section");
            continue;
        }
        ini.entries.push_back(
            {section, Lower(Trim(content.substr(0, equals))), Trim(content.substr(equals + 1)), number});
    }
    return ini;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

FileReadResult ReadSmallFile(const std::string& path, size_t maxBytes, std::string& text,
                             std::string& why) {
    text.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return FileReadResult::Missing;
        why = std::strerror(errno);
        return FileReadResult::Failed;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        why = "not a regular file";
        return FileReadResult::Failed;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = std::strerror(errno);
            close(fd);
            return FileReadResult::Failed;
        }
        if (n == 0) break;
        if (text.size() + static_cast<size_t>(n) > maxBytes) {
            why = "larger than " + std::to_string(maxBytes) + " bytes";
            close(fd);
            text.clear();
            return FileReadResult::Failed;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return FileReadResult::Read;
}

}  // namespace vorlan
