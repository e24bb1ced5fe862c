// SPDX-License-Identifier: Apache-2.0
// The channel configuration file reader over arbitrary bytes: every token it
// keeps is a run of non-space bytes of the input, at most 64 bytes long and
// never ending inside a GBK character.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "faultrec/channel_table.h"

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

void CheckToken(const std::string& token) {
    if (token.size() > vorlan::kMaxTokenBytes) std::abort();
    for (char c : token) {
        if (IsSpace(c)) std::abort();
    }
    if (vorlan::GbkPrefixLength(token, vorlan::kMaxTokenBytes) != token.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorlan::ChannelTable table;
    vorlan::ParseChannelTable(vorlan::ByteView(data, size), table);
    CheckToken(table.station);
    for (const auto& row : table.analog) {
        for (const auto& token : row) CheckToken(token);
    }
    for (const auto& row : table.digital) {
        for (const auto& token : row) CheckToken(token);
    }
    // The character-boundary cut on its own, at every limit up to the input's size.
    const std::string whole(reinterpret_cast<const char*>(data), size);
    for (size_t limit = 0; limit <= size && limit <= 80; ++limit) {
        const size_t cut = vorlan::GbkPrefixLength(whole, limit);
        if (cut > limit || cut > size) std::abort();
    }
    return 0;
}
