#pragma once
// The data file (.DAT, or the DAT section of a .CFF) in its four formats.
// Missing values (99999 or blank in ASCII, 0x8000 in BINARY, 0x80000000 in
// BINARY32, NaN in FLOAT32) become NaN; so does nothing else.

#include <cstdint>
#include <string>
#include <vector>

#include "recording.h"

namespace comtrade {

// What the data section holds besides the values kept in the recording.
struct RawTimes {
    std::vector<int64_t> stamps;  // -1 = missing
    std::vector<size_t> where;    // line number (ASCII) or byte offset (binary) of each sample
};

// ASCII lines of `bytes[begin, end)`, the first being line `firstLine` of `file`.
void ParseAsciiData(const std::string& file, const std::string& bytes, size_t begin, size_t end, size_t firstLine,
                    Recording& r, RawTimes& times);

// Binary samples of `bytes[begin, end)`; offsets in messages count from the file's start.
void ParseBinaryData(const std::string& file, const std::string& bytes, size_t begin, size_t end, Recording& r,
                     RawTimes& times);

// Bytes one binary sample takes in `r`'s format.
size_t BinarySampleBytes(const Recording& r);

}  // namespace comtrade
