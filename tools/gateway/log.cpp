#include "log.h"

#include "relay_points.h"

#include <atomic>
#include <cstdio>

namespace vorlan_gateway {

namespace {

std::atomic<int> g_level{kWarning};

}  // namespace

void SetLogLevel(int level) { g_level = level; }

bool LogEnabled(int level) { return level <= g_level.load(); }

void LogNamed(int level, const char* name, const std::string& text) {
    if (!LogEnabled(level)) return;
    // One fprintf per line, so lines of different threads don't mix.
    std::fprintf(stderr, "%s %s: %s\n", IsoUtcNow().c_str(), name, text.c_str());
}

void Log(int level, const std::string& text) {
    static const char* names[] = {"error", "warning", "info", "debug"};
    LogNamed(level, names[level < 0 ? 0 : level > 3 ? 3 : level], text);
}

}  // namespace vorlan_gateway
