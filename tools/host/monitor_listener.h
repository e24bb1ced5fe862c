// SPDX-License-Identifier: Apache-2.0
#pragma once
// The host's monitor: a datagram socket in the abstract namespace that the
// driver sends its trace lines to, one line per datagram.

#include <string>

namespace vorlan_host {

class MonitorListener {
public:
    MonitorListener() = default;
    ~MonitorListener();
    MonitorListener(const MonitorListener&) = delete;
    MonitorListener& operator=(const MonitorListener&) = delete;

    // $VORLAN_MONITOR, else "hostmsgw".
    static std::string DefaultName();
    // Binds the name; empty text on success, else why not (another monitor).
    std::string Bind(const std::string& name);
    // Waits up to `timeoutMs` for a line; false when none came.
    bool Receive(std::string& line, int timeoutMs);

private:
    int fd_ = -1;
};

// Collects trace lines into frames: a line starting with "T=>" or "R=>"
// starts one, lines starting with three blanks continue it.
class TraceFrames {
public:
    // Takes one line; true when it completed a frame.
    bool Add(const std::string& line);
    char direction() const { return direction_; }   // 'T' or 'R'
    const std::string& bytes() const { return bytes_; }

private:
    char direction_ = 0;
    std::string bytes_;
    bool complete_ = false;
};

}  // namespace vorlan_host
