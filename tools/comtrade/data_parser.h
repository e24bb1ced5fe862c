#pragma once
// The data file (.DAT, or the DAT section of a .CFF) in its four formats,
// read in chunks and handed on in blocks of samples, so memory stays bounded
// by a block whatever the file's size. Missing values (99999 or blank in
// ASCII, 0x8000 in BINARY, 0x80000000 in BINARY32, NaN in FLOAT32) become
// NaN; so does nothing else.

#include <cstdio>
#include <string>

#include "recording.h"
#include "warnings.h"

namespace comtrade {

// Where the data bytes come from: a range of bytes in memory, or an open
// file from its current position to its end.
class DataInput {
public:
    DataInput(const std::string& bytes, size_t begin, size_t end) : bytes_(&bytes), pos_(begin), end_(end) {}
    explicit DataInput(std::FILE* file) : file_(file) {}

    // Appends up to `max` bytes to `buffer`; returns how many, 0 at the end.
    size_t Read(std::string& buffer, size_t max);
    // Offset in the file of the first byte read.
    size_t Begin() const { return begin_; }

private:
    const std::string* bytes_ = nullptr;
    std::FILE* file_ = nullptr;
    size_t pos_ = 0, end_ = 0, begin_ = pos_;
};

struct DataTarget {
    const std::string& file;  // its name, for messages
    Recording& r;             // the configuration; samplesInFile and the rate table's count set here
    Warnings& warnings;
    const BlockSink& sink;
};

// ASCII lines; the first is line `firstLine` of the file.
void ParseAsciiData(const DataTarget& target, DataInput& input, size_t firstLine);
// Binary samples; offsets in messages count from the file's start.
void ParseBinaryData(const DataTarget& target, DataInput& input);

// Bytes one binary sample takes in `r`'s format.
size_t BinarySampleBytes(const Recording& r);

}  // namespace comtrade
