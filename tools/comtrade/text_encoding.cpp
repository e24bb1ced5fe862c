// SPDX-License-Identifier: Apache-2.0
#include "text_encoding.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace comtrade {

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

std::string Canonical(const std::string& name) {
    std::string lower;
    for (char c : name) {
        if (c != '-' && c != '_') lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lower == "utf8") return "UTF-8";
    if (lower == "gbk" || lower == "cp936") return "GBK";
    if (lower == "latin1" || lower == "iso88591") return "ISO-8859-1";
    return name;
}

}  // namespace

bool IsValidUtf8(const std::string& bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        size_t extra = 0;
        uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, code = c & 0x07;
        } else {
            return false;
        }
        if (bytes.size() - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char t = static_cast<unsigned char>(bytes[i + k]);
            if (!IsContinuation(t)) return false;
            code = (code << 6) | (t & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

bool IsValidGbk(const std::string& bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c < 0x81 || c > 0xFE || i + 1 >= bytes.size()) return false;
        const unsigned char t = static_cast<unsigned char>(bytes[i + 1]);
        if (t < 0x40 || t > 0xFE || t == 0x7F) return false;
        i += 2;
    }
    // The layout fits; iconv also knows which pairs are assigned.
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) return true;
    std::vector<char> buffer(bytes.size() * 2 + 16);
    char* src = const_cast<char*>(bytes.data());
    size_t srcLeft = bytes.size();
    char* dst = buffer.data();
    size_t dstLeft = buffer.size();
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    return r != static_cast<size_t>(-1);
}

std::string DetectEncoding(const std::string& bytes) {
    if (IsValidUtf8(bytes)) return "UTF-8";
    if (IsValidGbk(bytes)) return "GBK";
    return "ISO-8859-1";
}

bool DecodeToUtf8(const std::string& bytes, const std::string& encoding, std::string& out) {
    const std::string from = Canonical(encoding);
    out.clear();
    if (from == "UTF-8" && IsValidUtf8(bytes)) {
        out = bytes;
        return true;
    }
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> buffer(bytes.size() * 4 + 16);
    char* src = const_cast<char*>(bytes.data());
    size_t srcLeft = bytes.size();
    while (srcLeft > 0) {
        char* dst = buffer.data();
        size_t dstLeft = buffer.size();
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer.data(), static_cast<size_t>(dst - buffer.data()));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            out += "\xEF\xBF\xBD";  // shown as a replacement character, not dropped
            ++src;
            --srcLeft;
        }
    }
    iconv_close(cd);
    return true;
}

}  // namespace comtrade
