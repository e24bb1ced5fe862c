// SPDX-License-Identifier: Apache-2.0
#include "monitor_listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace vorlan_host {

MonitorListener::~MonitorListener() {
    if (fd_ >= 0) close(fd_);
}

std::string MonitorListener::DefaultName() {
    const char* name = std::getenv("VORLAN_MONITOR");
    return name && *name ? name : "hostmsgw";
}

std::string MonitorListener::Bind(const std::string& name) {
    sockaddr_un address{};
    if (name.empty() || name.size() > sizeof address.sun_path - 1) return "monitor name '" + name + "' is not usable";
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return std::string("no socket: ") + std::strerror(errno);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        const int e = errno;
        close(fd_);
        fd_ = -1;
        if (e == EADDRINUSE) return "another monitor already listens on '" + name + "'";
        return "can't listen on '" + name + "': " + std::strerror(e);
    }
    return {};
}

bool MonitorListener::Receive(std::string& line, int timeoutMs) {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0) return false;
    line.assign(buffer, static_cast<size_t>(n));
    return true;
}

bool TraceFrames::Add(const std::string& line) {
    size_t from = 0;
    if (line.compare(0, 3, "T=>") == 0 || line.compare(0, 3, "R=>") == 0) {
        direction_ = line[0];
        bytes_.clear();
        complete_ = false;
        from = 3;
    } else if (line.compare(0, 3, "   ") == 0 && direction_ != 0 && !complete_) {
        from = 3;
    } else {
        return false;
    }
    for (size_t i = from; i + 1 < line.size() + 1; ++i) {
        if (i + 1 < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])) &&
            std::isxdigit(static_cast<unsigned char>(line[i + 1]))) {
            bytes_ += static_cast<char>(std::strtoul(line.substr(i, 2).c_str(), nullptr, 16));
            ++i;
        }
    }
    if (bytes_.size() >= 3 && bytes_.size() >= static_cast<unsigned char>(bytes_[2]) + 5u) {
        complete_ = true;
        return true;
    }
    return false;
}

}  // namespace vorlan_host
