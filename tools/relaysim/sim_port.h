// SPDX-License-Identifier: Apache-2.0
#pragma once
// The simulator's end of the line: a new pseudo-terminal (the driver opens
// its other side) or a real serial device, raw and non-blocking.

#include <string>

#include "sim_config.h"

namespace vorlan_sim {

class SimPort {
public:
    SimPort() = default;
    ~SimPort();
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    // Creates or opens the line; an empty text on success, else the reason.
    std::string Open(const LineConfig& line);
    void Close();

    int fd() const { return fd_; }
    // The path the driver opens: the pseudo-terminal's or the device's.
    const std::string& path() const { return path_; }
    // The stable symlink, when one was asked for and made.
    const std::string& link() const { return link_; }

private:
    std::string OpenPty(const LineConfig& line);
    std::string OpenDevice(const LineConfig& line);

    int fd_ = -1;
    int keepSlave_ = -1;  // held open so the master never sees a hang-up
    std::string path_;
    std::string link_;
};

}  // namespace vorlan_sim
