#include "log.h"

#include <sys/time.h>

#include <atomic>
#include <cstdio>
#include <ctime>

namespace vorlan_gateway {

namespace {

std::atomic<int> g_level{kWarning};

}  // namespace

void SetLogLevel(int level) { g_level = level; }

bool LogEnabled(int level) { return level <= g_level.load(); }

void Log(int level, const std::string& text) {
    if (!LogEnabled(level)) return;
    static const char* names[] = {"error", "warning", "info", "debug"};
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm utc{};
    gmtime_r(&tv.tv_sec, &utc);
    // One fprintf per line, so lines of different threads don't mix.
    std::fprintf(stderr, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ %s: %s\n", utc.tm_year + 1900, utc.tm_mon + 1,
                 utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(tv.tv_usec / 1000),
                 names[level < 0 ? 0 : level > 3 ? 3 : level], text.c_str());
}

}  // namespace vorlan_gateway
