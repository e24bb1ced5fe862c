// SPDX-License-Identifier: Apache-2.0
#pragma once
// Plays the host's monitor: a datagram socket bound in the abstract
// namespace under a name unique to the test, collecting one line per datagram.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vorlan_test {

class MonitorListener {
public:
    explicit MonitorListener(const std::string& tag)
        : name_("vorlan-test-" + tag + "-" + std::to_string(getpid())) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path + 1, name_.data(), name_.size());
        bind(fd_, reinterpret_cast<sockaddr*>(&a),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name_.size()));
    }
    ~MonitorListener() { close(fd_); }
    MonitorListener(const MonitorListener&) = delete;
    MonitorListener& operator=(const MonitorListener&) = delete;

    const std::string& name() const { return name_; }

    // Every datagram waiting now, in arrival order.
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        char buf[4096];
        for (;;) {
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n < 0) break;
            lines.emplace_back(buf, static_cast<size_t>(n));
        }
        return lines;
    }

private:
    std::string name_;
    int fd_ = -1;
};

}  // namespace vorlan_test
