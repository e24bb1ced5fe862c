// SPDX-License-Identifier: Apache-2.0
#pragma once
// Where the monitor trace lines go: the host's monitor, if one listens.

#include <cstddef>

namespace vorlan {

class MonitorSink {
public:
    virtual ~MonitorSink() = default;
    // Sends one line. A missing monitor is not an error: the line is dropped.
    virtual void SendLine(const char* text, size_t size) = 0;
};

}  // namespace vorlan
