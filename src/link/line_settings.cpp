// SPDX-License-Identifier: Apache-2.0
#include "link/line_settings.h"

#include <cstdlib>

namespace vorlan {
namespace {

constexpr uint32_t kMaxTimeoutMs = 60'000;
constexpr uint32_t kMaxRtsDelayMs = 100;  // the kernel's own limit
constexpr double kMaxGuardChars = 1000;
constexpr uint32_t kMaxSilentRetryS = 3600;

bool OnOff(const std::string& v, bool& out) {
    if (v == "on") out = true;
    else if (v == "off") out = false;
    else return false;
    return true;
}

// Digits only, within [low, high]; no sign, no locale.
bool Whole(const std::string& v, uint32_t low, uint32_t high, uint32_t& out) {
    if (v.empty() || v.size() > 9) return false;
    uint32_t n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<uint32_t>(c - '0');
    }
    if (n < low || n > high) return false;
    out = n;
    return true;
}

// "3", "3.5", ".5": a decimal point whatever the host's locale.
bool Decimal(const std::string& v, double high, double& out) {
    if (v.empty() || v.size() > 12) return false;
    double whole = 0, scale = 1;
    bool point = false, digit = false;
    for (char c : v) {
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            digit = true;
            if (point) {
                scale /= 10;
                whole += (c - '0') * scale;
            } else {
                whole = whole * 10 + (c - '0');
            }
        } else {
            return false;
        }
    }
    if (!digit || whole > high) return false;
    out = whole;
    return true;
}

// Applies one key; false when the value is not taken (`why` may say why).
bool Apply(const IniEntry& e, LineSettings& s, bool& known, std::string& why) {
    known = true;
    const std::string& k = e.key;
    const std::string& v = e.value;
    if (k == "timing") {
        if (v == "standard") s.timing = LineTiming::Standard;
        else if (v == "fast") s.timing = LineTiming::Fast;
        else return false;
        return true;
    }
    if (k == "answer_timeout_ms") return Whole(v, 1, kMaxTimeoutMs, s.answerTimeoutMs);
    if (k == "slow_answer_timeout_ms") return Whole(v, 1, kMaxTimeoutMs, s.slowAnswerTimeoutMs);
    if (k == "interchar_timeout_ms") return Whole(v, 1, kMaxTimeoutMs, s.interCharTimeoutMs);
    if (k == "guard_chars") return Decimal(v, kMaxGuardChars, s.guardChars);
    if (k == "rs485") return OnOff(v, s.rs485.enabled);
    if (k == "rts_on_send") return OnOff(v, s.rs485.rtsOnSend);
    if (k == "rts_after_send") return OnOff(v, s.rs485.rtsAfterSend);
    if (k == "delay_before_send_ms") return Whole(v, 0, kMaxRtsDelayMs, s.rs485.delayBeforeSendMs);
    if (k == "delay_after_send_ms") return Whole(v, 0, kMaxRtsDelayMs, s.rs485.delayAfterSendMs);
    if (k == "echo") return OnOff(v, s.echo);
    if (k == "quality") {
        if (v == "legacy") s.legacyQuality = true;
        else if (v == "fresh") s.legacyQuality = false;
        else return false;
        return true;
    }
    if (k == "relay_time_zone") return RelayZone::FromText(v, s.relayZone, why);
    if (k == "time_sync") return OnOff(v, s.timeSync);
    if (k == "silent_backoff") {
        bool on = false;
        if (!OnOff(v, on)) return false;
        s.silentBackoff = on ? SilentBackoff::On : SilentBackoff::Off;
        return true;
    }
    if (k == "silent_retry_max_s") return Whole(v, 1, kMaxSilentRetryS, s.silentRetryMaxS);
    known = false;
    return false;
}

// A value that is not taken leaves the key at its default, not at what an
// earlier line or the [default] section gave it.
void ResetKey(const std::string& k, LineSettings& s) {
    const LineSettings d;
    if (k == "timing") s.timing = d.timing;
    else if (k == "answer_timeout_ms") s.answerTimeoutMs = d.answerTimeoutMs;
    else if (k == "slow_answer_timeout_ms") s.slowAnswerTimeoutMs = d.slowAnswerTimeoutMs;
    else if (k == "interchar_timeout_ms") s.interCharTimeoutMs = d.interCharTimeoutMs;
    else if (k == "guard_chars") s.guardChars = d.guardChars;
    else if (k == "rs485") s.rs485.enabled = d.rs485.enabled;
    else if (k == "rts_on_send") s.rs485.rtsOnSend = d.rs485.rtsOnSend;
    else if (k == "rts_after_send") s.rs485.rtsAfterSend = d.rs485.rtsAfterSend;
    else if (k == "delay_before_send_ms") s.rs485.delayBeforeSendMs = d.rs485.delayBeforeSendMs;
    else if (k == "delay_after_send_ms") s.rs485.delayAfterSendMs = d.rs485.delayAfterSendMs;
    else if (k == "echo") s.echo = d.echo;
    else if (k == "quality") s.legacyQuality = d.legacyQuality;
    else if (k == "relay_time_zone") s.relayZone = d.relayZone;
    else if (k == "time_sync") s.timeSync = d.timeSync;
    else if (k == "silent_backoff") s.silentBackoff = d.silentBackoff;
    else if (k == "silent_retry_max_s") s.silentRetryMaxS = d.silentRetryMaxS;
}

void ApplySection(const IniFile& ini, const std::string& section, LineSettings& s,
                  std::vector<std::string>& notes) {
    for (const IniEntry& e : ini.entries) {
        if (e.section != section) continue;
        bool known = false;
        std::string why;
        LineSettings tried = s;
        if (Apply(e, tried, known, why)) {
            s = tried;
            continue;
        }
        const std::string where = "line " + std::to_string(e.line) + ": ";
        if (!known) {
            notes.push_back(where + "unknown key " + e.key + ", ignored");
            continue;
        }
        ResetKey(e.key, s);
        notes.push_back(where + "bad value '" + e.value + "' for " + e.key +
                        (why.empty() ? "" : " (" + why + ")") + ", default used");
    }
}

}  // namespace

LineSettings LineSettingsFor(const IniFile& ini, const std::string& portName,
                             std::vector<std::string>& notes) {
    for (const std::string& p : ini.problems) notes.push_back(p + ", skipped");
    LineSettings s;
    ApplySection(ini, "default", s, notes);
    if (!portName.empty() && portName != "default") ApplySection(ini, portName, s, notes);
    return s;
}

std::string LineSettingsPath() {
    const char* explicitPath = std::getenv("VORLAN_LINES");
    if (explicitPath != nullptr && explicitPath[0] != '\0') return explicitPath;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string user;
    if (config != nullptr && config[0] == '/') {
        user = std::string(config) + "/vorlan/lines.ini";
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        user = std::string(home) + "/.config/vorlan/lines.ini";
    }
    if (!user.empty() && PathExists(user)) return user;
    return "/etc/vorlan/lines.ini";
}

LineSettings LoadLineSettings(const std::string& portName, std::vector<std::string>& notes) {
    const std::string path = LineSettingsPath();
    std::string text, why;
    switch (ReadSmallFile(path, kMaxLineSettingsFile, text, why)) {
        case FileReadResult::Missing:
            return LineSettings{};
        case FileReadResult::Failed:
            notes.push_back(path + ": " + why + "; every default used");
            return LineSettings{};
        case FileReadResult::Read:
            break;
    }
    std::vector<std::string> local;
    const LineSettings s = LineSettingsFor(ParseIni(text), portName, local);
    for (const std::string& n : local) notes.push_back(path + ": " + n);
    return s;
}

}  // namespace vorlan
