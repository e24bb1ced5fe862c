#include "status_bits.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "gbk_text.h"

namespace vorlan_host {

namespace {

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    const size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

// "bitN" or "CHANNEL.bitN"; false for anything else.
bool ParseKey(const std::string& key, std::string& channel, int& bit) {
    const size_t at = key.rfind("bit");
    if (at == std::string::npos || (at > 0 && key[at - 1] != '.')) return false;
    const std::string digits = key.substr(at + 3);
    if (digits.empty() || digits.size() > 2) return false;
    bit = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        bit = bit * 10 + (c - '0');
    }
    if (bit > 31) return false;
    channel = at > 0 ? key.substr(0, at - 1) : std::string();
    return at != 1;  // ".bit3" names no channel
}

// Control characters would break the picture's text; they become '?'.
std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return text;
}

}  // namespace

std::string BitNames::Name(const std::string& channel, int bit) const {
    auto it = names_.find({channel, bit});
    if (it == names_.end()) it = names_.find({std::string(), bit});
    return it == names_.end() ? std::string() : it->second;
}

std::string ReadBitNames(const std::string& path, BitNames& names, std::vector<std::string>& warnings) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "can't read " + path;
    std::string text;
    text.resize(kMaxBitsFile + 1);
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxBitsFile) return path + " is larger than " + std::to_string(kMaxBitsFile) + " bytes";
    size_t lineNo = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNo;
        if (line.empty() || line[0] == '#') continue;
        const size_t gap = line.find_first_of(" \t");
        std::string channel;
        int bit = 0;
        const std::string where = path + ":" + std::to_string(lineNo) + ": ";
        if (gap == std::string::npos || !ParseKey(line.substr(0, gap), channel, bit)) {
            warnings.push_back(where + "expected 'bitN name' with N from 0 to 31; line left out");
            continue;
        }
        const std::string name = Trim(line.substr(gap));
        if (name.size() > kMaxBitName) {
            warnings.push_back(where + "a name can be at most " + std::to_string(kMaxBitName) + " bytes; line left out");
            continue;
        }
        names.Set(ToUtf8(channel), bit, Printable(ToUtf8(name)));
    }
    return {};
}

std::vector<std::string> BitsFileCandidates(const std::string& cfg) {
    const size_t slash = cfg.find_last_of('/');
    const size_t dot = cfg.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string dir = slash == std::string::npos ? std::string() : cfg.substr(0, slash + 1);
    return {(hasExt ? cfg.substr(0, dot) : cfg) + ".bits", dir + "通道配置文件.bits"};
}

bool IsStatusWord(const std::vector<int32_t>& states) {
    for (int32_t v : states) {
        if (v != 0 && v != 1) return true;
    }
    return false;
}

uint32_t ChangingBits(const std::vector<int32_t>& states) {
    if (states.empty()) return 0;
    const uint32_t first = static_cast<uint32_t>(states[0]);
    uint32_t changing = 0;
    for (int32_t v : states) changing |= static_cast<uint32_t>(v) ^ first;
    return changing;
}

}  // namespace vorlan_host
