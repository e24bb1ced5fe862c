// SPDX-License-Identifier: Apache-2.0
#include "refusal.h"

namespace comtrade {

std::vector<TextLine> SplitLines(const std::string& bytes, size_t begin, size_t end, size_t firstNumber) {
    std::vector<TextLine> lines;
    size_t number = firstNumber;
    size_t pos = begin;
    while (pos < end) {
        size_t eol = bytes.find('\n', pos);
        if (eol == std::string::npos || eol > end) eol = end;
        size_t stop = eol;
        if (stop > pos && bytes[stop - 1] == '\r') --stop;
        lines.push_back({number++, bytes.substr(pos, stop - pos)});
        pos = eol + 1;
    }
    return lines;
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t pos = 0;
    for (;;) {
        const size_t comma = line.find(',', pos);
        const size_t stop = comma == std::string::npos ? line.size() : comma;
        size_t a = pos, b = stop;
        while (a < b && (line[a] == ' ' || line[a] == '\t')) ++a;
        while (b > a && (line[b - 1] == ' ' || line[b - 1] == '\t')) --b;
        fields.push_back(line.substr(a, b - a));
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return fields;
}

std::string Quoted(const std::string& text) {
    std::string shown;
    for (char c : text) {
        if (shown.size() >= 60) {
            shown += "...";
            break;
        }
        const unsigned char u = static_cast<unsigned char>(c);
        shown += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    return "'" + shown + "'";
}

void RefuseAt(const std::string& file, const TextLine& line, const std::string& what) {
    throw Refusal(file + ": line " + std::to_string(line.number) + ": " + what);
}

void RefuseAtByte(const std::string& file, size_t offset, const std::string& what) {
    throw Refusal(file + ": byte " + std::to_string(offset) + ": " + what);
}

}  // namespace comtrade
