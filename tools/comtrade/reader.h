#pragma once
// Reads a COMTRADE recording: FILE.CFG with the data file beside it, or a
// single FILE.CFF. On refusal the text names the file, the line or byte
// offset, and what was expected there. Quirks that leave the meaning clear
// are read and listed in the recording's warnings, unless strict.

#include <string>

#include "recording.h"

namespace comtrade {

struct ReadOptions {
    std::string encoding;  // blank: UTF-8, else GBK, else Latin-1, whichever the bytes are
    bool strict = false;   // every quirk is a refusal
};

// Empty text on success, else why the file was refused.
std::string ReadRecording(const std::string& path, const ReadOptions& options, Recording& out);

// The same, with the samples handed to `sink` block by block instead of kept
// in `out`: memory stays bounded by a block, whatever the file's size. `out`
// gets the configuration, the warnings and samplesInFile.
std::string StreamRecording(const std::string& path, const ReadOptions& options, Recording& out,
                            const BlockSink& sink);

// The same from bytes already read; the names appear in messages.
std::string ReadPair(const std::string& cfgName, const std::string& cfgBytes, const std::string& datName,
                     const std::string& datBytes, const ReadOptions& options, Recording& out);
std::string ReadCff(const std::string& name, const std::string& bytes, const ReadOptions& options, Recording& out);

}  // namespace comtrade
