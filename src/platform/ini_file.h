// SPDX-License-Identifier: Apache-2.0
#pragma once
// A small INI reader: "[section]" headers, "key = value" lines, comments
// after ';' or '#'. Keys are lower-cased; sections and values are kept as
// written. Lines it cannot read are skipped and reported, never fatal.

#include <cstddef>
#include <string>
#include <vector>

namespace vorlan {

struct IniEntry {
    std::string section;
    std::string key;
    std::string value;
    int line = 0;
};

struct IniFile {
    std::vector<IniEntry> entries;    // in file order
    std::vector<std::string> problems;  // "line N: why"
};

IniFile ParseIni(const std::string& text);

// True when something (even an unreadable file) is at `path`.
bool PathExists(const std::string& path);

enum class FileReadResult { Read, Missing, Failed };

// Reads at most `maxBytes` of `path` into `text`; a longer file fails, as
// does one that exists but cannot be read (`why` says so).
FileReadResult ReadSmallFile(const std::string& path, size_t maxBytes, std::string& text,
                             std::string& why);

}  // namespace vorlan
