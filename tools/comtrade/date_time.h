// SPDX-License-Identifier: Apache-2.0
#pragma once
// The start and trigger lines of a configuration file: a date (month first
// in the 1991 revision, day first in later ones, two- or four-digit year) and
// a time of day with up to nine fraction digits.

#include <cstdint>
#include <string>

namespace comtrade {

// Parses "dd/mm/yyyy" (or "mm/dd/yy" when `monthFirst`) and "hh:mm:ss.ffffff"
// into nanoseconds since 1970-01-01. Two-digit years 70..99 are 19xx, the
// others 20xx. Empty text on success, else what is wrong.
std::string ParseDateTime(const std::string& date, const std::string& time, bool monthFirst, int64_t& ns);

// ISO 8601 with microseconds: "2024-03-05T13:04:05.123456".
std::string IsoText(int64_t ns);

}  // namespace comtrade
