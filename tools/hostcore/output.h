// SPDX-License-Identifier: Apache-2.0
#pragma once
// Where results go: standard output, as text or as JSON lines that each carry
// a "type" and a "time" in ISO 8601 with the local offset. Progress and
// complaints go to standard error.

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace vorlan_host {

// "2026-12-08T09:03:50.123+08:00" for a time in milliseconds since 1970 (UTC).
std::string IsoTime(int64_t unixMs);
std::string IsoNow();
// A driver FILETIME (100 ns since 1601, UTC) in ISO 8601; empty for none.
std::string IsoFileTime(int64_t fileTime100ns);
// The same as JSON: the text, or null for none.
nlohmann::json JsonFileTime(int64_t fileTime100ns);

// Prints `fields` as one JSON line with "type" and, unless given, "time".
void EmitJson(const std::string& type, nlohmann::json fields);

// True once standard output has been closed by its reader (a pipe into
// `head`), so a command stops quietly instead of writing on.
bool OutputGone();

}  // namespace vorlan_host
