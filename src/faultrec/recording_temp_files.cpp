// SPDX-License-Identifier: Apache-2.0
#include "faultrec/recording_temp_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>

namespace vorlan {

namespace {
constexpr const char* kTempMark = ".tmp-";
// A list-time text is "%4d%2d%2d%2d%2d%2d": at least 14 digits and blanks.
constexpr size_t kMinBaseLength = 14;
constexpr size_t kMaxBaseLength = 24;
constexpr size_t kMaxNumberDigits = 10;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the decimal number at `pos` (1..10 digits), advancing `pos`.
bool ReadNumber(const std::string& text, size_t& pos, long long& value) {
    const size_t start = pos;
    value = 0;
    while (pos < text.size() && IsDigit(text[pos]) && pos - start < kMaxNumberDigits) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return pos > start && (pos == text.size() || !IsDigit(text[pos]));
}

bool Take(const std::string& text, size_t& pos, const std::string& expected) {
    if (text.compare(pos, expected.size(), expected) != 0) return false;
    pos += expected.size();
    return true;
}

// The process id of a name of our pattern, or 0 if the name isn't one.
pid_t OwnerOf(const std::string& name) {
    size_t pos = 0;
    if (!Take(name, pos, ".")) return 0;
    while (pos < name.size() && (IsDigit(name[pos]) || name[pos] == ' ')) ++pos;
    const size_t baseLength = pos - 1;
    if (baseLength < kMinBaseLength || baseLength > kMaxBaseLength) return 0;
    if (!Take(name, pos, ".CFG") && !Take(name, pos, ".DAT")) return 0;
    long long pid = 0, counter = 0;
    if (!Take(name, pos, kTempMark) || !ReadNumber(name, pos, pid)) return 0;
    if (!Take(name, pos, "-") || !ReadNumber(name, pos, counter) || pos != name.size()) return 0;
    // Never 0 or negative: those would name process groups.
    if (pid <= 0 || pid > INT_MAX) return 0;
    return static_cast<pid_t>(pid);
}
}  // namespace

std::string TempFileName(const std::string& finalName) {
    static std::atomic<unsigned> counter{0};
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, "%s%ld-%u", kTempMark, static_cast<long>(::getpid()),
                  counter.fetch_add(1));
    return "." + finalName + suffix;
}

bool IsLeftoverTempFile(const std::string& name) {
    const pid_t owner = OwnerOf(name);
    if (owner == 0) return false;
    // An earlier process may have had our id; ours are all idle now.
    if (owner == ::getpid()) return true;
    return ::kill(owner, 0) != 0 && errno == ESRCH;
}

void RemoveLeftoverTempFiles(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (IsLeftoverTempFile(entry->d_name)) ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

}  // namespace vorlan
