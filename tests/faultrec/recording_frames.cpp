// SPDX-License-Identifier: Apache-2.0
#include "faultrec/recording_frames.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/hex.h"

namespace faultrec_test {

namespace {
void PutLe(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void RemoveTree(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (dir != nullptr) {
        while (dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            RemoveTree(path + "/" + name);
        }
        ::closedir(dir);
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}
}  // namespace

std::vector<uint8_t> EntryBytes(const ListEntry& e) {
    std::vector<uint8_t> out;
    PutLe(out, e.number, 4);
    PutLe(out, e.second, 4);
    PutLe(out, e.fraction, 4);
    PutLe(out, e.rate, 4);
    PutLe(out, e.count, 2);
    PutLe(out, 0xEEEE, 2);
    return out;
}

std::vector<uint8_t> SampleBytes(const Sample& s) {
    std::vector<uint8_t> out;
    PutLe(out, s.number, 2);
    PutLe(out, s.time, 4);
    for (int16_t a : s.analog) PutLe(out, static_cast<uint16_t>(a), 2);
    for (uint8_t d : s.digital) out.push_back(d);
    return out;
}

Sample PatternSample(uint16_t number) {
    Sample s;
    s.number = number;
    s.time = 1000u * number;
    for (int j = 0; j < vorlan::kAnalogChannels; ++j) {
        s.analog[j] = static_cast<int16_t>((j % 2 == 0 ? 1 : -1) * (100 * j + number));
    }
    s.digital[0] = static_cast<uint8_t>(number);
    s.digital[1] = static_cast<uint8_t>(255 - number);
    return s;
}

std::vector<uint8_t> ListAnswer(uint8_t address, const std::vector<ListEntry>& entries) {
    std::vector<uint8_t> payload;
    for (const ListEntry& e : entries) {
        const auto bytes = EntryBytes(e);
        payload.insert(payload.end(), bytes.begin(), bytes.end());
    }
    return vorlan_test::MakeFrame(address, 0xC9, payload);
}

std::vector<uint8_t> BlockAnswer(uint8_t address, uint16_t first, uint16_t last) {
    std::vector<uint8_t> payload;
    for (uint32_t n = first; n <= last; ++n) {
        const auto bytes = SampleBytes(PatternSample(static_cast<uint16_t>(n)));
        payload.insert(payload.end(), bytes.begin(), bytes.end());
    }
    return vorlan_test::MakeFrame(address, 0xCB, payload);
}

TempDir::TempDir() {
    char pattern[] = "/tmp/vorlan-faultrec-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = std::string(pattern) + "/";
}

TempDir::~TempDir() { RemoveTree(path_.substr(0, path_.size() - 1)); }

void TempDir::Write(const std::string& name, const std::string& content) const {
    std::ofstream(path_ + name, std::ios::binary) << content;
}

std::string TempDir::Read(const std::string& name) const {
    std::ifstream in(path_ + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool TempDir::Exists(const std::string& name) const {
    struct stat st {};
    return ::stat((path_ + name).c_str(), &st) == 0;
}

std::vector<std::string> TempDir::Names() const {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path_.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace faultrec_test
