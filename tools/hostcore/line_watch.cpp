// SPDX-License-Identifier: Apache-2.0
#include "line_watch.h"

namespace vorlan_host {

namespace {

constexpr int kSilentAfter = 3;  // failed Send packets in a row before the line counts as silent

}  // namespace

std::string LineWatch::Answered(const std::string& portPath) {
    std::string event;
    if (lineLost_) event = "line back: " + portPath + " answers again";
    else if (silenceReported_) event = "line answers again";
    lineLost_ = silenceReported_ = false;
    failuresInRow_ = 0;
    return event;
}

std::string LineWatch::Failed(bool portPresent, const std::string& portPath) {
    ++failuresInRow_;
    if (!lineLost_ && !portPresent) {
        lineLost_ = true;
        return "line lost: " + portPath + " has gone; polling goes on and the driver reopens it when it is back";
    }
    if (!lineLost_ && !silenceReported_ && failuresInRow_ >= kSilentAfter) {
        silenceReported_ = true;
        return "no answers: " + std::to_string(failuresInRow_) + " packets in a row failed on " + portPath;
    }
    return {};
}

}  // namespace vorlan_host
