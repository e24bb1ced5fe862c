// SPDX-License-Identifier: Apache-2.0
// The line settings file as any bytes: the INI reading and the settings for
// a port must take every input without reading out of bounds, and every
// value they hand on stays within its range.
//
// Input: [port name length][port name][file text].

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/line_settings.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t nameLength = data[0] % 40;
    if (nameLength > size - 1) nameLength = size - 1;
    const std::string port(reinterpret_cast<const char*>(data + 1), nameLength);
    const std::string text(reinterpret_cast<const char*>(data + 1 + nameLength), size - 1 - nameLength);
    std::vector<std::string> notes;
    const vorlan::LineSettings s = vorlan::LineSettingsFor(vorlan::ParseIni(text), port, notes);
    if (s.answerTimeoutMs < 1 || s.answerTimeoutMs > 60000) std::abort();
    if (s.slowAnswerTimeoutMs < 1 || s.slowAnswerTimeoutMs > 60000) std::abort();
    if (s.interCharTimeoutMs > 60000) std::abort();
    if (!(s.guardChars >= 0 && s.guardChars <= 1000)) std::abort();
    if (s.rs485.delayBeforeSendMs > 100 || s.rs485.delayAfterSendMs > 100) std::abort();
    return 0;
}
