// SPDX-License-Identifier: Apache-2.0
#include "output.h"

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace vorlan_host {

namespace {

constexpr int64_t kUnixEpoch100ns = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601
bool g_outputGone = false;

}  // namespace

std::string IsoTime(int64_t unixMs) {
    const time_t seconds = static_cast<time_t>(unixMs / 1000);
    int ms = static_cast<int>(unixMs % 1000);
    if (ms < 0) ms += 1000;
    tm local{};
    localtime_r(&seconds, &local);
    const long offset = local.tm_gmtoff / 60;  // minutes east of UTC
    const long absOffset = std::labs(offset);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ms,
                  offset < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
    return text;
}

std::string IsoNow() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return IsoTime(static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000);
}

std::string IsoFileTime(int64_t fileTime100ns) {
    if (fileTime100ns <= 0) return {};
    return IsoTime((fileTime100ns - kUnixEpoch100ns) / 10000);
}

nlohmann::json JsonFileTime(int64_t fileTime100ns) {
    if (fileTime100ns <= 0) return nullptr;
    return IsoFileTime(fileTime100ns);
}

void EmitJson(const std::string& type, nlohmann::json fields) {
    fields["type"] = type;
    if (!fields.contains("time")) fields["time"] = IsoNow();
    std::printf("%s\n", fields.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    std::fflush(stdout);
}

bool OutputGone() {
    if (g_outputGone) return true;
    g_outputGone = std::fflush(stdout) != 0 || std::ferror(stdout);
    return g_outputGone;
}

}  // namespace vorlan_host
