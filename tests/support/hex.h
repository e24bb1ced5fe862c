// SPDX-License-Identifier: Apache-2.0
#pragma once
// Frames written as hex strings in tests: "01 83 00 30 F0".

#include <cstdint>
#include <string>
#include <vector>

namespace vorlan_test {

std::vector<uint8_t> Hex(const std::string& text);
std::string ToHex(const uint8_t* data, size_t size);
inline std::string ToHex(const std::vector<uint8_t>& v) { return ToHex(v.data(), v.size()); }
// Appends the CRC to a frame given without it: WithCrc("01 06 00").
std::vector<uint8_t> WithCrc(const std::string& textWithoutCrc);
// Builds address, command, length, data and CRC.
std::vector<uint8_t> MakeFrame(uint8_t address, uint8_t command, const std::vector<uint8_t>& data);

}  // namespace vorlan_test
