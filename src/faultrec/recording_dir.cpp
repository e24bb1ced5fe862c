// SPDX-License-Identifier: Apache-2.0
#include <cstdlib>

#include "faultrec/recording_service.h"

namespace vorlan {

namespace {
constexpr const char* kDefaultRecordingDir = "/var/lib/vorlan/故障录波/";

std::string ChooseRecordingDir() {
    const char* env = std::getenv("VORLAN_RECORDING_DIR");
    if (env == nullptr || env[0] == '\0') return kDefaultRecordingDir;
    std::string dir(env);
    if (dir.back() != '/') dir += '/';
    return dir;
}
}  // namespace

// Chosen on first use and fixed from then on.
const std::string& RecordingDir() {
    static const std::string dir = ChooseRecordingDir();
    return dir;
}

}  // namespace vorlan
