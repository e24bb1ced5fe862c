// SPDX-License-Identifier: Apache-2.0
#pragma once
// Opening a channel with its line settings: the settings file is read, the
// port opened with RS-485 direction control when asked (a port without it
// does not open), a port that echoes is wrapped, and the fast profile's
// timing worked out from the line's speed.

#include <memory>
#include <string>
#include <vector>

#include "link/fast_exchange.h"
#include "link/line_settings.h"
#include "platform/clock.h"
#include "platform/monitor_sink.h"
#include "platform/open_error.h"
#include "platform/serial_port.h"
#include "vorlan/driver.h"

namespace vorlan {

struct LineChannel {
    std::unique_ptr<SerialPort> port;  // null when the port did not open
    bool fast = false;                 // timing = fast
    FastTiming timing;
    bool legacyQuality = false;          // quality = legacy
    RelayZone relayZone;               // the zone the relays' clocks keep
    bool timeSync = true;              // the driver sets the relays' clocks
    bool silentBackoff = false;        // silent relays leave the rotation
    uint32_t silentRetryMaxMs = 10'000;
    std::vector<std::string> notes;    // what the settings file got wrong
    OpenError error;                   // why the port did not open
};

// The fast profile's timing for a line: characters of start bit, data bits,
// parity and stop bits at the line's speed.
FastTiming FastTimingFor(const LineSettings& line, const SerialSettings& serial);

// Opens the port with already read settings; on failure `why` (when given)
// says why. The driver's `clock` times the port's waits and the echo
// read-back; it must outlive the port.
std::unique_ptr<SerialPort> OpenLinePort(const ChannelConfig& config, const LineSettings& line,
                                         Clock& clock, OpenError* why = nullptr);

// Reads the settings file for the channel's port name and opens the port.
LineChannel OpenLineChannel(const ChannelConfig& config, Clock& clock);

}  // namespace vorlan

namespace vorlan {

// Sends `text` to the monitor in lines of at most 80 characters, later lines
// led by three blanks; no character is lost.
void SendMonitorText(MonitorSink& monitor, const std::string& text);

// Sends each note to the monitor as "line settings: <note>", wrapped as
// SendMonitorText does.
void SendLineNotes(MonitorSink& monitor, const std::vector<std::string>& notes);

}  // namespace vorlan
