// SPDX-License-Identifier: Apache-2.0
#include "faultrec/comtrade_text.h"

#include <cstdio>
#include <limits>

#include "model/recording_limits.h"

namespace vorlan {

namespace {
constexpr const char* kLineEnd = "\r\n";
constexpr int kLineFrequencyHz = 50;
constexpr int kSamplingRates = 1;

// A token as one field of a comma-separated line: a comma in it would shift
// the fields after it, so it becomes a blank. (A comma byte is never part of
// a two-byte GBK character.)
void AppendField(std::string& out, const std::string& token) {
    for (char c : token) out += c == ',' ? ' ' : c;
}

// What an analog row holds where the channel file gives nothing: the
// channel's number, multiplier 1, offset 0, skew 0 and the whole range of a
// sample as its limits. The text fields stay empty.
std::array<std::string, kAnalogRowTokens> NeutralAnalogRow(size_t channel) {
    return {std::to_string(channel + 1), "", "", "", "", "1", "0", "0",
            std::to_string(std::numeric_limits<int16_t>::min()),
            std::to_string(std::numeric_limits<int16_t>::max())};
}

// A digital row's number and normal state 0.
std::array<std::string, kDigitalRowTokens> NeutralDigitalRow(size_t word) {
    return {std::to_string(word + 1), "", "0"};
}

template <size_t N>
void AppendRow(std::string& out, const std::array<std::string, N>& row,
               const std::array<std::string, N>& neutral) {
    for (size_t i = 0; i < N; ++i) {
        if (i > 0) out += ',';
        AppendField(out, row[i].empty() ? neutral[i] : row[i]);
    }
    out += kLineEnd;
}

void AppendNumber(std::string& out, const char* format, long long value) {
    char text[24];
    const int n = std::snprintf(text, sizeof text, format, value);
    if (n > 0 && static_cast<size_t>(n) < sizeof text) out.append(text, static_cast<size_t>(n));
}
}  // namespace

std::string FormatConfiguration(const DeviceRecord& relay, int32_t position,
                                const ChannelTable& channels) {
    if (!IsListPosition(position)) return {};
    const size_t p = static_cast<size_t>(position);
    std::string out;
    out.reserve(4096);

    AppendField(out, channels.station);
    AppendNumber(out, ",%lld", relay.address);
    out += kLineEnd;
    AppendNumber(out, "%lld,", kAnalogChannels + kDigitalWords);
    AppendNumber(out, "%lldA,", kAnalogChannels);
    AppendNumber(out, "%lldD", kDigitalWords);
    out += kLineEnd;
    for (size_t r = 0; r < channels.analog.size(); ++r) {
        AppendRow(out, channels.analog[r], NeutralAnalogRow(r));
    }
    for (size_t r = 0; r < channels.digital.size(); ++r) {
        AppendRow(out, channels.digital[r], NeutralDigitalRow(r));
    }
    AppendNumber(out, "%lld", kLineFrequencyHz);
    out += kLineEnd;
    AppendNumber(out, "%lld", kSamplingRates);
    out += kLineEnd;
    AppendNumber(out, "%lld", static_cast<int32_t>(relay.recording.lbSampleRate[p]));
    AppendNumber(out, ",%lld", StoredSampleCount(relay, position));
    out += kLineEnd;
    out += relay.recording.lbStartTimeText[p];
    out += kLineEnd;
    out += relay.recording.lbTriggerTimeText[p];
    out += kLineEnd;
    out += "ASCII";
    out += kLineEnd;
    return out;
}

std::string FormatData(const DeviceRecord& relay, int32_t position) {
    if (!IsListPosition(position) || !relay.recording.samples) return {};
    const RecordingSamples& samples = *relay.recording.samples;
    const size_t count = static_cast<size_t>(StoredSampleCount(relay, position));
    std::string out;
    // At most 20 fields of 11 characters and their commas per line.
    out.reserve(count * 256);
    for (size_t k = 0; k < count; ++k) {
        AppendNumber(out, "%lld,", static_cast<long long>(k + 1));
        AppendNumber(out, "%lld,", static_cast<int32_t>(samples.lbSampleTime[k]));
        for (size_t j = 0; j < kAnalogChannels; ++j) {
            AppendNumber(out, "%lld,", samples.lbAnalog[j][k]);
        }
        AppendNumber(out, "%lld,", samples.lbDigital[0][k]);
        AppendNumber(out, "%lld", samples.lbDigital[1][k]);
        out += kLineEnd;
    }
    return out;
}

}  // namespace vorlan
