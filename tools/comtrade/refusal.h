// SPDX-License-Identifier: Apache-2.0
#pragma once
// Why a file was refused: the file, the line or byte offset, what was
// expected there and what was found.

#include <stdexcept>
#include <string>
#include <vector>

namespace comtrade {

struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One line of text with its number in the file (1-based).
struct TextLine {
    size_t number = 0;
    std::string text;
};

// Lines of `bytes` from `begin` to `end`, split at LF with a trailing CR
// dropped; `firstNumber` is the number of the first.
std::vector<TextLine> SplitLines(const std::string& bytes, size_t begin, size_t end, size_t firstNumber);

// Fields of a line split at commas, each without surrounding blanks.
std::vector<std::string> SplitFields(const std::string& line);

[[noreturn]] void RefuseAt(const std::string& file, const TextLine& line, const std::string& what);
[[noreturn]] void RefuseAtByte(const std::string& file, size_t offset, const std::string& what);
// The text quoted and shortened for a message.
std::string Quoted(const std::string& text);

}  // namespace comtrade
