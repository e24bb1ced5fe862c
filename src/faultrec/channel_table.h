// SPDX-License-Identifier: Apache-2.0
#pragma once
// The channel configuration file: the station name and the channel rows the
// relay protocol doesn't carry. GBK text read as bytes, tokens separated by
// white space; line breaks carry no meaning. Tokens are kept as read, cut to
// 64 bytes at a character boundary.

#include <array>
#include <string>

#include "model/device_record.h"
#include "model/byte_view.h"

namespace vorlan {

constexpr size_t kMaxTokenBytes = 64;
constexpr size_t kAnalogRowTokens = 10;
constexpr size_t kDigitalRowTokens = 3;

struct ChannelTable {
    std::string station;
    std::array<std::array<std::string, kAnalogRowTokens>, kAnalogChannels> analog{};
    std::array<std::array<std::string, kDigitalRowTokens>, kDigitalWords> digital{};
};

// Fills `table` from the file's bytes; tokens the text lacks stay empty and
// tokens after the last digital row are ignored.
void ParseChannelTable(ByteView text, ChannelTable& table);

// Reads the file at `path`. False if it can't be opened or read.
bool ReadChannelTable(const std::string& path, ChannelTable& table);

// Length of the longest prefix of `token` of at most `limit` bytes that ends
// on a GBK character boundary.
size_t GbkPrefixLength(const std::string& token, size_t limit);

}  // namespace vorlan
