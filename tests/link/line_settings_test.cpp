// SPDX-License-Identifier: Apache-2.0
// The line settings file: every key, values that are not taken, the port's
// own section over [default], and where the file is looked for.

#include "link/line_settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/line_channel.h"

namespace {

using vorlan::LineSettings;
using vorlan::LineTiming;

LineSettings For(const std::string& text, const std::string& port, std::vector<std::string>& notes) {
    return vorlan::LineSettingsFor(vorlan::ParseIni(text), port, notes);
}

TEST(LineSettings, EveryKeyIsReadFromTheDefaultSection) {
    std::vector<std::string> notes;
    const LineSettings s = For(
        "\xEF\xBB\xBF; a line of relays, the file saved with a byte order mark\n"
        "[default]\n"
        "timing = fast\n"
        "answer_timeout_ms = 300\n"
        "slow_answer_timeout_ms=3000\n"
        "interchar_timeout_ms = 25   ; a short one\n"
        "guard_chars = 4.25\n"
        "rs485 = on\n"
        "rts_on_send = off\n"
        "RTS_AFTER_SEND = on\n"
        "delay_before_send_ms = 2\n"
        "delay_after_send_ms = 100\n"
        "echo = on\n",
        "COM1", notes);
    EXPECT_TRUE(notes.empty()) << notes.front();
    EXPECT_EQ(s.timing, LineTiming::Fast);
    EXPECT_EQ(s.answerTimeoutMs, 300u);
    EXPECT_EQ(s.slowAnswerTimeoutMs, 3000u);
    EXPECT_EQ(s.interCharTimeoutMs, 25u);
    EXPECT_DOUBLE_EQ(s.guardChars, 4.25);
    EXPECT_TRUE(s.rs485.enabled);
    EXPECT_FALSE(s.rs485.rtsOnSend);
    EXPECT_TRUE(s.rs485.rtsAfterSend);
    EXPECT_EQ(s.rs485.delayBeforeSendMs, 2u);
    EXPECT_EQ(s.rs485.delayAfterSendMs, 100u);
    EXPECT_TRUE(s.echo);
}

TEST(LineSettings, EmptyOrMissingMeansEveryDefault) {
    std::vector<std::string> notes;
    const LineSettings s = For("", "COM1", notes);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(s.timing, LineTiming::Standard);
    EXPECT_EQ(s.answerTimeoutMs, 450u);
    EXPECT_EQ(s.slowAnswerTimeoutMs, 2450u);
    EXPECT_EQ(s.interCharTimeoutMs, 0u);
    EXPECT_DOUBLE_EQ(s.guardChars, 3.5);
    EXPECT_FALSE(s.rs485.enabled);
    EXPECT_FALSE(s.echo);

    const std::string dir = ::testing::TempDir() + "vorlan-lines-missing";
    setenv("VORLAN_LINES", (dir + "/nothing-here.ini").c_str(), 1);
    notes.clear();
    const LineSettings loaded = vorlan::LoadLineSettings("COM1", notes);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(loaded.timing, LineTiming::Standard);
    unsetenv("VORLAN_LINES");
}

TEST(LineSettings, PortSectionWinsOverDefaultForItsKeysOnly) {
    std::vector<std::string> notes;
    const std::string text =
        "[COM3]\n"
        "answer_timeout_ms = 200\n"
        "[default]\n"
        "timing = fast\n"
        "answer_timeout_ms = 600\n"
        "[/dev/serial/by-id/usb-x#1]\n"
        "timing = standard\n";
    const LineSettings com3 = For(text, "COM3", notes);
    EXPECT_EQ(com3.timing, LineTiming::Fast);
    EXPECT_EQ(com3.answerTimeoutMs, 200u);
    const LineSettings other = For(text, "COM4", notes);
    EXPECT_EQ(other.answerTimeoutMs, 600u);
    const LineSettings byId = For(text, "/dev/serial/by-id/usb-x#1", notes);
    EXPECT_EQ(byId.timing, LineTiming::Standard);
    EXPECT_EQ(byId.answerTimeoutMs, 600u);
    EXPECT_TRUE(notes.empty());
}

TEST(LineSettings, BadValuesFallBackToTheDefaultWithANoteEach) {
    std::vector<std::string> notes;
    const LineSettings s = For(
        "[default]\n"
        "timing = fast\n"
        "answer_timeout_ms = 700\n"
        "guard_chars = 5\n"
        "[COM1]\n"
        "timing = quick\n"             // not a profile
        "answer_timeout_ms = -5\n"     // no sign
        "interchar_timeout_ms = 0\n"   // below the range
        "guard_chars = 3,5\n"          // a comma is not a decimal point
        "delay_after_send_ms = 101\n"  // beyond the kernel's limit
        "echo = yes\n"
        "colour = blue\n"
        "just some words\n",
        "COM1", notes);
    EXPECT_EQ(s.timing, LineTiming::Standard);
    EXPECT_EQ(s.answerTimeoutMs, 450u);  // the default, not [default]'s 700
    EXPECT_EQ(s.interCharTimeoutMs, 0u);
    EXPECT_DOUBLE_EQ(s.guardChars, 3.5);
    EXPECT_EQ(s.rs485.delayAfterSendMs, 0u);
    EXPECT_FALSE(s.echo);
    ASSERT_EQ(notes.size(), 8u);
    EXPECT_EQ(notes[0], "line 13: not a key = value line, skipped");
    EXPECT_EQ(notes[1], "line 6: bad value 'quick' for timing, default used");
    EXPECT_EQ(notes[7], "line 12: unknown key colour, ignored");
}

TEST(LineSettings, RelayClockZoneAndSynchronisation) {
    const int64_t summerNoon = vorlan::FieldSeconds(2004, 7, 1, 12, 0, 0);
    std::vector<std::string> notes;
    const LineSettings d = For("", "COM1", notes);
    EXPECT_EQ(d.relayZone.OffsetAt(summerNoon), 8 * 3600);  // the relays' own zone
    EXPECT_TRUE(d.timeSync);

    const std::string text =
        "[default]\n"
        "relay_time_zone = -05:30\n"
        "time_sync = off\n"
        "[COM2]\n"
        "relay_time_zone = Europe/Berlin\n"
        "[COM3]\n"
        "relay_time_zone = Mars/Olympus_Mons\n"
        "time_sync = sometimes\n"
        "[COM4]\n"
        "relay_time_zone = ../../etc/passwd\n";
    const LineSettings fixed = For(text, "COM1", notes);
    EXPECT_EQ(fixed.relayZone.OffsetAt(summerNoon), -(5 * 3600 + 1800));
    EXPECT_FALSE(fixed.timeSync);
    const LineSettings named = For(text, "COM2", notes);
    EXPECT_EQ(named.relayZone.OffsetAt(summerNoon), 2 * 3600);
    EXPECT_EQ(named.relayZone.OffsetAt(vorlan::FieldSeconds(2004, 1, 1, 12, 0, 0)), 3600);
    EXPECT_TRUE(notes.empty());

    // A bad value gives the key's default, not [default]'s, and a note naming why.
    const LineSettings bad = For(text, "COM3", notes);
    EXPECT_EQ(bad.relayZone.OffsetAt(summerNoon), 8 * 3600);
    EXPECT_TRUE(bad.timeSync);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], "line 7: bad value 'Mars/Olympus_Mons' for relay_time_zone (no zone file " +
                            vorlan::ZoneDirectory() + "/Mars/Olympus_Mons), default used");
    EXPECT_EQ(notes[1], "line 8: bad value 'sometimes' for time_sync, default used");
    notes.clear();
    EXPECT_EQ(For(text, "COM4", notes).relayZone.OffsetAt(summerNoon), 8 * 3600);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "line 10: bad value '../../etc/passwd' for relay_time_zone (not a zone name), default used");
}

TEST(LineSettings, SilentBackoffFollowsTheProfileUnlessSet) {
    std::vector<std::string> notes;
    const LineSettings standard = For("", "COM1", notes);
    EXPECT_FALSE(standard.BackoffOn());
    EXPECT_EQ(standard.silentRetryMaxS, 10u);
    EXPECT_TRUE(For("[default]\ntiming = fast\n", "COM1", notes).BackoffOn());

    const std::string text =
        "[default]\n"
        "silent_retry_max_s = 30\n"
        "[COM1]\n"
        "silent_backoff = on\n"
        "[COM2]\n"
        "timing = fast\n"
        "silent_backoff = off\n"
        "[COM3]\n"
        "timing = fast\n"
        "silent_backoff = maybe\n"
        "silent_retry_max_s = 0\n";
    const LineSettings on = For(text, "COM1", notes);
    EXPECT_TRUE(on.BackoffOn());
    EXPECT_EQ(on.silentRetryMaxS, 30u);
    EXPECT_FALSE(For(text, "COM2", notes).BackoffOn());
    EXPECT_TRUE(notes.empty());

    // Bad values give the defaults: by the profile, and 10 s.
    const LineSettings bad = For(text, "COM3", notes);
    EXPECT_TRUE(bad.BackoffOn());
    EXPECT_EQ(bad.silentRetryMaxS, 10u);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], "line 10: bad value 'maybe' for silent_backoff, default used");
    EXPECT_EQ(notes[1], "line 11: bad value '0' for silent_retry_max_s, default used");
}

TEST(LineSettings, FileIsFoundByTheEnvironmentAndItsNotesNameIt) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(::testing::TempDir()) / ("vorlan-lines-" + std::to_string(getpid()));
    fs::create_directories(dir / "xdg" / "vorlan");
    const std::string xdgFile = (dir / "xdg" / "vorlan" / "lines.ini").string();
    std::ofstream(xdgFile) << "[default]\ntiming = fast\nguard_chars = x\n";

    unsetenv("VORLAN_LINES");
    setenv("XDG_CONFIG_HOME", (dir / "xdg").c_str(), 1);
    EXPECT_EQ(vorlan::LineSettingsPath(), xdgFile);
    std::vector<std::string> notes;
    EXPECT_EQ(vorlan::LoadLineSettings("COM1", notes).timing, LineTiming::Fast);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], xdgFile + ": line 3: bad value 'x' for guard_chars, default used");

    // An explicit file wins; a directory there is reported, not read.
    setenv("VORLAN_LINES", dir.c_str(), 1);
    notes.clear();
    EXPECT_EQ(vorlan::LoadLineSettings("COM1", notes).timing, LineTiming::Standard);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("not a regular file"), std::string::npos);

    // Without either the system file is the last resort.
    unsetenv("VORLAN_LINES");
    setenv("XDG_CONFIG_HOME", (dir / "nothing").c_str(), 1);
    EXPECT_EQ(vorlan::LineSettingsPath(), "/etc/vorlan/lines.ini");
    unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir);
}

TEST(LineSettings, FastTimingFollowsTheLineSpeed) {
    vorlan::SerialSettings serial;
    serial.baudRate = 9600;
    LineSettings line;
    vorlan::FastTiming t = vorlan::FastTimingFor(line, serial);
    EXPECT_EQ(t.charTimeUs, 1042u);
    EXPECT_EQ(t.interCharTimeoutMs, 40u);  // 10 characters are 10.4 ms: the 40 ms floor
    EXPECT_EQ(t.guardMs, 4u);              // 3.5 characters, 3.65 ms
    serial.baudRate = 300;
    serial.parity = 2;
    t = vorlan::FastTimingFor(line, serial);
    EXPECT_EQ(t.charTimeUs, 36667u);       // 11 bits
    EXPECT_EQ(t.interCharTimeoutMs, 367u);
    EXPECT_EQ(t.guardMs, 129u);
    serial.baudRate = 57600;
    serial.parity = 0;
    line.guardChars = 0;
    line.interCharTimeoutMs = 15;
    t = vorlan::FastTimingFor(line, serial);
    EXPECT_EQ(t.guardMs, 2u);  // never below 2 ms
    EXPECT_EQ(t.interCharTimeoutMs, 15u);
}

}  // namespace
