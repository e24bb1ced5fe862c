// SPDX-License-Identifier: Apache-2.0
#include "platform/linux_monitor_sink.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace vorlan {
namespace {

constexpr char kDefaultMonitor[] = "hostmsgw";
// A monitor that takes no line for this long loses that line rather than
// holding the packet call forever.
constexpr int kSendTimeoutSeconds = 2;

class DatagramMonitorSink final : public MonitorSink {
public:
    explicit DatagramMonitorSink(const char* name) {
        const size_t size = std::strlen(name);
        // Abstract namespace: a leading NUL, then the name without terminator.
        if (size == 0 || size > sizeof address_.sun_path - 1) return;
        address_.sun_family = AF_UNIX;
        std::memcpy(address_.sun_path + 1, name, size);
        addressSize_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return;
        timeval timeout{kSendTimeoutSeconds, 0};
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    }
    ~DatagramMonitorSink() override {
        if (fd_ >= 0) close(fd_);
    }
    DatagramMonitorSink(const DatagramMonitorSink&) = delete;
    DatagramMonitorSink& operator=(const DatagramMonitorSink&) = delete;

    // Blocks while the monitor's queue is full, so lines stay in order; with
    // nobody listening the line is dropped.
    void SendLine(const char* text, size_t size) override {
        if (fd_ < 0 || text == nullptr) return;
        for (;;) {
            const ssize_t n = sendto(fd_, text, size, MSG_NOSIGNAL,
                                     reinterpret_cast<const sockaddr*>(&address_), addressSize_);
            if (n >= 0 || errno != EINTR) return;
        }
    }

private:
    int fd_ = -1;
    sockaddr_un address_{};
    socklen_t addressSize_ = 0;
};

}  // namespace

std::unique_ptr<MonitorSink> MakeHostMonitorSink() {
    const char* name = std::getenv("VORLAN_MONITOR");
    return std::make_unique<DatagramMonitorSink>(name != nullptr && *name != '\0' ? name
                                                                                : kDefaultMonitor);
}

}  // namespace vorlan
