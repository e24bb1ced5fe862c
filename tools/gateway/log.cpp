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

void Log(int level, const std::string& text) {
    if (!LogEnabled(level)) return;
    static const char* names[] = {"error", "warning", "info", "debug"};
    // One fprintf per line, so lines of different threads don't mix.
    std::fprintf(stderr, "%s %s: %s\n", IsoUtcNow().c_str(), names[level < 0 ? 0 : level > 3 ? 3 : level], text.c_str());
}

}  // namespace vorlan_gateway
