// SPDX-License-Identifier: Apache-2.0
#pragma once
// Follows the outcome of the Send packets on one line and words the moments
// worth telling: the port gone, the line silent, the line answering again.

#include <string>

namespace vorlan_host {

class LineWatch {
public:
    // After a packet that succeeded; the event text, or empty when the line
    // was already known to be well.
    std::string Answered(const std::string& portPath);
    // After a failed packet, with whether the port still exists; the event
    // text, or empty when there is nothing new to tell.
    std::string Failed(bool portPresent, const std::string& portPath);

private:
    bool lineLost_ = false;
    bool silenceReported_ = false;
    int failuresInRow_ = 0;
};

}  // namespace vorlan_host
