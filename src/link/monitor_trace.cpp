// SPDX-License-Identifier: Apache-2.0
#include "link/monitor_trace.h"

namespace vorlan {
namespace {

constexpr size_t kChunk = 80;         // characters of trace per line
constexpr size_t kIndentSize = 3;     // blanks before every later line
constexpr size_t kPrefixSize = 3;     // "T=>" or "R=>"

}  // namespace

size_t FormatTrace(const uint8_t* frame, size_t size, char* out, size_t capacity) {
    static const char kDigits[] = "0123456789ABCDEF";
    if (out == nullptr || capacity == 0) return 0;
    size_t used = 0;
    for (size_t i = 0; frame != nullptr && i < size && used + 3 < capacity; ++i) {
        out[used++] = kDigits[frame[i] >> 4];
        out[used++] = kDigits[frame[i] & 0x0F];
        out[used++] = ' ';
    }
    out[used] = '\0';
    return used;
}

void MonitorTrace(MonitorSink& sink, char direction, const char* text, size_t size) {
    char prefix[kPrefixSize] = {};
    size_t prefixSize = 0;
    if (direction == 'T' || direction == 't' || direction == 'R' || direction == 'r') {
        prefix[0] = (direction == 'T' || direction == 't') ? 'T' : 'R';
        prefix[1] = '=';
        prefix[2] = '>';
        prefixSize = kPrefixSize;
    }
    if (text == nullptr) size = 0;

    // The message is the prefix followed by the text, cut into lines of 80
    // characters; the character after each line (a separating blank) is skipped.
    const size_t total = prefixSize + size;
    size_t position = 0;
    char line[kIndentSize + kChunk];
    for (size_t piece = 0; piece < total / kChunk + 1 && position < total; ++piece) {
        const size_t chunk = position + kChunk < total ? kChunk : total - position;
        size_t used = 0;
        if (piece > 0) {
            for (size_t i = 0; i < kIndentSize; ++i) line[used++] = ' ';
        }
        for (size_t i = position; i < position + chunk; ++i) {
            line[used++] = i < prefixSize ? prefix[i] : text[i - prefixSize];
        }
        sink.SendLine(line, used);
        position += chunk + 1;
    }
}

}  // namespace vorlan
