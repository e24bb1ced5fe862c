// SPDX-License-Identifier: Apache-2.0
#pragma once
// Texts of a configuration file: UTF-8 when the bytes are valid UTF-8, else
// GBK when they are valid GBK, else Latin-1 (every byte is a character).

#include <string>

namespace comtrade {

bool IsValidUtf8(const std::string& bytes);
bool IsValidGbk(const std::string& bytes);

// The encoding to read `bytes` with: "UTF-8", "GBK" or "ISO-8859-1".
std::string DetectEncoding(const std::string& bytes);

// `bytes` from `encoding` (any name iconv knows) to UTF-8; a byte that does
// not decode becomes U+FFFD. False when the encoding is unknown.
bool DecodeToUtf8(const std::string& bytes, const std::string& encoding, std::string& out);

}  // namespace comtrade
