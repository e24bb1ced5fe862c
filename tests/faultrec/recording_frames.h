// SPDX-License-Identifier: Apache-2.0
#pragma once
// Fault-recording answers and a scratch recording directory for the tests.

#include <cstdint>
#include <string>
#include <vector>

#include "model/device_record.h"

namespace faultrec_test {

struct ListEntry {
    uint32_t number = 0;
    uint32_t second = 0;
    uint32_t fraction = 0;
    uint32_t rate = 0;
    uint16_t count = 0;
};

struct Sample {
    uint16_t number = 0;
    uint32_t time = 0;
    int16_t analog[vorlan::kAnalogChannels] = {};
    uint8_t digital[vorlan::kDigitalWords] = {};
};

// The 20 payload bytes of a list entry / 40 of a sample.
std::vector<uint8_t> EntryBytes(const ListEntry& e);
std::vector<uint8_t> SampleBytes(const Sample& s);
// A sample whose values follow from its number (so every block is checkable).
Sample PatternSample(uint16_t number);

// Answer 0xC9 / 0xCB for `address`, with CRC.
std::vector<uint8_t> ListAnswer(uint8_t address, const std::vector<ListEntry>& entries);
std::vector<uint8_t> BlockAnswer(uint8_t address, uint16_t first, uint16_t last);

// A fresh directory under /tmp, removed with its contents at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // With a trailing '/'.
    const std::string& path() const { return path_; }
    void Write(const std::string& name, const std::string& content) const;
    std::string Read(const std::string& name) const;
    bool Exists(const std::string& name) const;
    std::vector<std::string> Names() const;

private:
    std::string path_;
};

}  // namespace faultrec_test
