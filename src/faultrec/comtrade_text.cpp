#include "faultrec/comtrade_text.h"

#include <cstdio>

#include "faultrec/recording_limits.h"

namespace vorlan {

namespace {
constexpr const char* kLineEnd = "\r\n";
constexpr int kLineFrequencyHz = 50;
constexpr int kSamplingRates = 1;

template <size_t N>
void AppendRow(std::string& out, const std::array<std::string, N>& row) {
    for (size_t i = 0; i < N; ++i) {
        if (i > 0) out += ',';
        out += row[i];
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

    out += channels.station;
    AppendNumber(out, ",%lld", relay.address);
    out += kLineEnd;
    AppendNumber(out, "%lld,", kAnalogChannels + kDigitalWords);
    AppendNumber(out, "%lldA,", kAnalogChannels);
    AppendNumber(out, "%lldD", kDigitalWords);
    out += kLineEnd;
    for (const auto& row : channels.analog) AppendRow(out, row);
    for (const auto& row : channels.digital) AppendRow(out, row);
    AppendNumber(out, "%lld", kLineFrequencyHz);
    out += kLineEnd;
    AppendNumber(out, "%lld", kSamplingRates);
    out += kLineEnd;
    AppendNumber(out, "%lld", static_cast<int32_t>(relay.lbSampleRate[p]));
    AppendNumber(out, ",%lld", StoredSampleCount(relay, position));
    out += kLineEnd;
    out += relay.lbStartTimeText[p];
    out += kLineEnd;
    out += relay.lbTriggerTimeText[p];
    out += kLineEnd;
    out += "ASCII";
    out += kLineEnd;
    return out;
}

std::string FormatData(const DeviceRecord& relay, int32_t position) {
    if (!IsListPosition(position)) return {};
    const size_t count = static_cast<size_t>(StoredSampleCount(relay, position));
    std::string out;
    // At most 20 fields of 11 characters and their commas per line.
    out.reserve(count * 256);
    for (size_t k = 0; k < count; ++k) {
        AppendNumber(out, "%lld,", static_cast<long long>(k + 1));
        AppendNumber(out, "%lld,", static_cast<int32_t>(relay.lbSampleTime[k]));
        for (size_t j = 0; j < kAnalogChannels; ++j) {
            AppendNumber(out, "%lld,", relay.lbAnalog[j][k]);
        }
        AppendNumber(out, "%lld,", relay.lbDigital[0][k]);
        AppendNumber(out, "%lld", relay.lbDigital[1][k]);
        out += kLineEnd;
    }
    return out;
}

}  // namespace vorlan
