// SPDX-License-Identifier: Apache-2.0
#pragma once
// The command codes of the relay protocol: byte 1 of every frame.

#include <cstdint>

namespace vorlan {

// Requests the driver sends.
enum class Request : uint8_t {
    None = 0x00,            // nothing to send until an answer or a host write sets a request
    Reset = 0x80,           // broadcast reset of the relays' signals (address 0xFF)
    TimeSync = 0x81,        // local date and time in packed decimal
    GeneralPoll = 0x83,     // the default request; also the probe
    SettingRead = 0x85,     // the settings of a zone
    FollowUpPoll = 0x8A,    // after answers 0xB0, 0xB1 and 0xBA
    SettingWrite = 0x8C,    // a zone's settings, in the layout the relay last sent
    SettingConfirm = 0x8F,  // the second request after a setting write
    ZoneSwitch = 0x90,      // make a zone the active one; its settings are read next
    ControlSelect = 0x98,   // remote control, first step
    RecordingList = 0x99,   // the list of fault recordings
    ControlExecute = 0x9A,  // remote control, second step, after answer 0xC8
    RecordingBlock = 0x9B,  // the next samples of a fault recording
};

// Answers the relays give.
enum class Answer : uint8_t {
    Nothing = 0x04,          // nothing to report
    Data = 0x06,             // measurements, status points or counters; empty: write confirmed
    SettingsFloat = 0xAD,    // setting values, float layout
    Accepted = 0xB0,         // follow up, at most a few times in a row
    StatusChanges = 0xB1,    // time-tagged status changes; follow up likewise
    FollowUp = 0xBA,         // follow up without a bound
    SettingsCoded = 0xBD,    // setting values, packed-decimal coded list
    ControlSelected = 0xC8,  // first control step accepted
    RecordingList = 0xC9,    // the fault-recording list
    ControlResult = 0xCA,    // the outcome of a remote control
    RecordingBlock = 0xCB,   // samples of a fault recording
};

constexpr uint8_t Code(Request r) { return static_cast<uint8_t>(r); }
constexpr uint8_t Code(Answer a) { return static_cast<uint8_t>(a); }

}  // namespace vorlan
