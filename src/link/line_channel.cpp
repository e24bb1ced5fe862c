// SPDX-License-Identifier: Apache-2.0
#include "link/line_channel.h"

#include <algorithm>
#include <cstring>

#include "link/echo_port.h"
#include "link/serial_channel.h"

namespace vorlan {
namespace {

constexpr uint32_t kMinInterCharMs = 40;
constexpr uint32_t kInterCharChars = 10;
constexpr uint32_t kMinGuardMs = 2;

uint32_t CeilMs(double us) {
    const double ms = us / 1000.0;
    const uint32_t whole = static_cast<uint32_t>(ms);
    return static_cast<double>(whole) < ms ? whole + 1 : whole;
}

}  // namespace

FastTiming FastTimingFor(const LineSettings& line, const SerialSettings& serial) {
    FastTiming t;
    const uint32_t dataBits = serial.byteSize < 5 ? 5u : serial.byteSize > 8 ? 8u : serial.byteSize;
    const uint32_t bits = 1 + dataBits + (serial.parity != 0 ? 1u : 0u) + (serial.twoStopBits ? 2u : 1u);
    const uint32_t baud = serial.baudRate > 0 ? static_cast<uint32_t>(serial.baudRate) : 9600u;
    t.charTimeUs = (bits * 1'000'000u + baud - 1) / baud;
    t.answerTimeoutMs = line.answerTimeoutMs;
    t.slowAnswerTimeoutMs = line.slowAnswerTimeoutMs;
    const uint32_t tenChars = CeilMs(static_cast<double>(kInterCharChars) * t.charTimeUs);
    t.interCharTimeoutMs = line.interCharTimeoutMs != 0 ? line.interCharTimeoutMs
                                                        : (tenChars > kMinInterCharMs ? tenChars : kMinInterCharMs);
    const uint32_t guard = CeilMs(line.guardChars * t.charTimeUs);
    t.guardMs = guard > kMinGuardMs ? guard : kMinGuardMs;
    return t;
}

std::unique_ptr<SerialPort> OpenLinePort(const ChannelConfig& config, const LineSettings& line,
                                         Clock& clock, OpenError* why) {
    std::unique_ptr<SerialPort> port = OpenChannelPort(config, clock, line.rs485, why);
    if (!port || !line.echo) return port;
    const FastTiming t = FastTimingFor(line, SettingsFor(config));
    return std::make_unique<EchoSuppressingPort>(std::move(port), clock, t.charTimeUs, t.interCharTimeoutMs);
}

LineChannel OpenLineChannel(const ChannelConfig& config, Clock& clock) {
    LineChannel channel;
    const std::string portName(config.portName, strnlen(config.portName, kPortNameChars));
    const LineSettings line = LoadLineSettings(portName, channel.notes);
    channel.port = OpenLinePort(config, line, clock, &channel.error);
    channel.fast = line.timing == LineTiming::Fast;
    channel.timing = FastTimingFor(line, SettingsFor(config));
    channel.legacyQuality = line.legacyQuality;
    channel.relayZone = line.relayZone;
    channel.timeSync = line.timeSync;
    channel.silentBackoff = line.BackoffOn();
    channel.silentRetryMaxMs = line.silentRetryMaxS * 1000;
    return channel;
}

void SendMonitorText(MonitorSink& monitor, const std::string& text) {
    constexpr size_t kLine = 80;
    const std::string indent = "   ";
    size_t at = 0;
    while (at < text.size()) {
        const std::string lead = at == 0 ? "" : indent;
        const size_t take = std::min(kLine - lead.size(), text.size() - at);
        const std::string line = lead + text.substr(at, take);
        monitor.SendLine(line.c_str(), line.size());
        at += take;
    }
}

void SendLineNotes(MonitorSink& monitor, const std::vector<std::string>& notes) {
    for (const std::string& note : notes) SendMonitorText(monitor, "line settings: " + note);
}

}  // namespace vorlan
