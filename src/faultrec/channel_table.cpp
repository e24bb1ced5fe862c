// SPDX-License-Identifier: Apache-2.0
#include "faultrec/channel_table.h"
#include "platform/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace vorlan {

namespace {
constexpr size_t kTokenCount =
    1 + kAnalogChannels * kAnalogRowTokens + kDigitalWords * kDigitalRowTokens;  // 167
// The tokens fill far less; reading stops here.
constexpr size_t kMaxFileBytes = 1 << 20;

bool IsSpace(uint8_t b) { return b == ' ' || (b >= '\t' && b <= '\r'); }
bool IsGbkLead(uint8_t b) { return b >= 0x81 && b <= 0xFE; }

std::string& TokenSlot(ChannelTable& table, size_t n) {
    if (n == 0) return table.station;
    n -= 1;
    if (n < kAnalogChannels * kAnalogRowTokens) {
        return table.analog[n / kAnalogRowTokens][n % kAnalogRowTokens];
    }
    n -= kAnalogChannels * kAnalogRowTokens;
    return table.digital[n / kDigitalRowTokens][n % kDigitalRowTokens];
}
}  // namespace

size_t GbkPrefixLength(const std::string& token, size_t limit) {
    size_t end = 0;
    while (end < token.size()) {
        const uint8_t b = static_cast<uint8_t>(token[end]);
        const size_t width = (IsGbkLead(b) && end + 1 < token.size()) ? 2 : 1;
        if (end + width > limit) break;
        end += width;
    }
    return end;
}

void ParseChannelTable(ByteView text, ChannelTable& table) {
    table = ChannelTable{};
    size_t n = 0;
    size_t pos = 0;
    while (n < kTokenCount && pos < text.size()) {
        while (pos < text.size() && IsSpace(text.at(pos))) ++pos;
        const size_t start = pos;
        while (pos < text.size() && !IsSpace(text.at(pos))) ++pos;
        if (pos == start) break;
        std::string token(reinterpret_cast<const char*>(text.data() + start), pos - start);
        token.resize(GbkPrefixLength(token, kMaxTokenBytes));
        TokenSlot(table, n++) = std::move(token);
    }
}

bool ReadChannelTable(const std::string& path, ChannelTable& table) {
    std::string bytes;
    const ReadOutcome read = ReadWholeFile(path, kMaxFileBytes, bytes);
    if (read != ReadOutcome::Read && read != ReadOutcome::TooLong) return false;
    ParseChannelTable(ByteView(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), table);
    return true;
}

}  // namespace vorlan
