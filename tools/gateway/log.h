#pragma once
// Log lines on standard error: time, level and text. The level is set once
// at start (-v raises it); lines above it are not written.

#include <string>

namespace vorlan_gateway {

enum LogLevel : int { kError = 0, kWarning = 1, kInfo = 2, kDebug = 3 };

void SetLogLevel(int level);
bool LogEnabled(int level);
void Log(int level, const std::string& text);
// The same with its own name in place of the level's ("audit").
void LogNamed(int level, const char* name, const std::string& text);

}  // namespace vorlan_gateway
