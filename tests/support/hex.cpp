// SPDX-License-Identifier: Apache-2.0
#include "hex.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "model/frame.h"

namespace vorlan_test {

std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> out;
    int pending = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) throw std::invalid_argument(text);
        const int v = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        if (pending < 0) {
            pending = v;
        } else {
            out.push_back(static_cast<uint8_t>(pending * 16 + v));
            pending = -1;
        }
    }
    if (pending >= 0) throw std::invalid_argument(text);
    return out;
}

std::string ToHex(const uint8_t* data, size_t size) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        s += buf;
    }
    return s;
}

std::vector<uint8_t> WithCrc(const std::string& textWithoutCrc) {
    std::vector<uint8_t> f = Hex(textWithoutCrc);
    const uint16_t crc = vorlan::ComputeCrc(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

std::vector<uint8_t> MakeFrame(uint8_t address, uint8_t command, const std::vector<uint8_t>& data) {
    // Reserved up front: gcc 12 at -O2 misreads a grow-and-insert as out of bounds.
    std::vector<uint8_t> f;
    f.reserve(3 + data.size() + 2);
    f.push_back(address);
    f.push_back(command);
    f.push_back(static_cast<uint8_t>(data.size()));
    f.insert(f.end(), data.begin(), data.end());
    const uint16_t crc = vorlan::ComputeCrc(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

}  // namespace vorlan_test
