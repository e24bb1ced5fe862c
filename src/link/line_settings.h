// SPDX-License-Identifier: Apache-2.0
#pragma once
// The line settings file: how the exchange times a line (the standard fixed
// pauses or the fast profile), RS-485 direction control, local echo, the
// zone the relays' clocks keep and whether the driver sets them. Read
// at OpenChannel from $VORLAN_LINES, else $XDG_CONFIG_HOME/vorlan/lines.ini
// (~/.config when unset), else /etc/vorlan/lines.ini. A port's own section
// wins over [default]; a missing file gives every default; a bad value
// gives that key's default and a note.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "platform/relay_zone.h"
#include "platform/rs485_settings.h"

namespace vorlan {

enum class LineTiming : uint8_t { Standard, Fast };

// silent_backoff: unset follows the timing profile (on when fast).
enum class SilentBackoff : uint8_t { ByProfile, On, Off };

struct LineSettings {
    LineTiming timing = LineTiming::Standard;
    uint32_t answerTimeoutMs = 450;      // write to the answer's first byte
    uint32_t slowAnswerTimeoutMs = 2450; // setting reads and 248-byte answers
    uint32_t interCharTimeoutMs = 0;     // 0: max(40 ms, 10 character times)
    double guardChars = 3.5;             // quiet time after an answer
    Rs485Settings rs485;
    bool echo = false;                   // the adapter hands back what it sends
    // quality = legacy: every served value good and stamped now, whatever the
    // relay's answers, for hosts built on that; default: quality that says
    // how fresh each value is.
    bool legacyQuality = false;
    RelayZone relayZone;                 // relay_time_zone: UTC+8 unless set
    bool timeSync = true;                // time_sync: off where a station clock sets the relays
    SilentBackoff silentBackoff = SilentBackoff::ByProfile;
    uint32_t silentRetryMaxS = 10;       // silent_retry_max_s: longest retry interval of a silent relay

    // Whether silent relays are backed off on this line.
    bool BackoffOn() const {
        if (silentBackoff == SilentBackoff::ByProfile) return timing == LineTiming::Fast;
        return silentBackoff == SilentBackoff::On;
    }
};

constexpr size_t kMaxLineSettingsFile = 64 * 1024;

// The settings for `portName` (as the host names the port) from a parsed
// file; `notes` gets one line for every key or line that was not taken.
LineSettings LineSettingsFor(const IniFile& ini, const std::string& portName,
                             std::vector<std::string>& notes);

// The file the settings are read from, by the environment.
std::string LineSettingsPath();

// Reads the file at LineSettingsPath() and picks `portName`'s settings.
LineSettings LoadLineSettings(const std::string& portName, std::vector<std::string>& notes);

}  // namespace vorlan
