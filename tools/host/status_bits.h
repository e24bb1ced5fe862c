#pragma once
// A digital channel whose values are more than 0 and 1 is a status word: the
// plot draws it as one row per bit that changes. The bits' names may come
// from a small text file, one "bitN name" per line, or "CHANNEL.bitN name"
// for one channel only; '#' starts a comment line.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vorlan_host {

class BitNames {
public:
    // The name of `bit` of `channel`: its own line first, then a "bitN" line.
    // Empty when the file names neither.
    std::string Name(const std::string& channel, int bit) const;
    void Set(const std::string& channel, int bit, const std::string& name) { names_[{channel, bit}] = name; }
    bool Empty() const { return names_.empty(); }

private:
    std::map<std::pair<std::string, int>, std::string> names_;  // channel "" for every channel
};

// The file is text from anywhere: at most this many bytes, names at most
// kMaxBitName bytes, bit numbers 0..31.
constexpr size_t kMaxBitsFile = 64 * 1024;
constexpr size_t kMaxBitName = 64;

// Reads `path` into `names`. Empty text on success; lines that can't be read
// are left out, each with a warning. A file too large or unreadable is refused.
std::string ReadBitNames(const std::string& path, BitNames& names, std::vector<std::string>& warnings);

// Where a .bits file may lie for the recording `cfg`: the recording's own
// (rec.bits beside rec.cfg), then the one for every recording of its directory.
std::vector<std::string> BitsFileCandidates(const std::string& cfg);

// Any value other than 0 and 1?
bool IsStatusWord(const std::vector<int32_t>& states);
// The bits that take both values somewhere in `states`.
uint32_t ChangingBits(const std::vector<int32_t>& states);

}  // namespace vorlan_host
