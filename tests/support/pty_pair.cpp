// SPDX-License-Identifier: Apache-2.0
#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace vorlan_test {

PtyPair::PtyPair() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&peer_, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    termios t{};
    tcgetattr(peer_, &t);
    cfmakeraw(&t);
    tcsetattr(peer_, TCSANOW, &t);
    // Keep the slave side raw too, so the driver's first open sees a quiet line;
    // closing our descriptor lets the driver be the only opener.
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    close(slave);
    fcntl(peer_, F_SETFL, fcntl(peer_, F_GETFL) | O_NONBLOCK);
    path_ = name;
}

PtyPair::~PtyPair() { ClosePeer(); }

std::vector<uint8_t> PtyPair::ReadPeer(int timeoutMs) {
    std::vector<uint8_t> out;
    pollfd p{peer_, POLLIN, 0};
    if (peer_ < 0 || poll(&p, 1, timeoutMs) <= 0) return out;
    uint8_t buf[1024];
    for (;;) {
        const ssize_t n = read(peer_, buf, sizeof buf);
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

std::vector<uint8_t> PtyPair::ReadPeerExactly(size_t count, int timeoutMs) {
    std::vector<uint8_t> out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        std::vector<uint8_t> part = ReadPeer(static_cast<int>(left.count()));
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

void PtyPair::WritePeer(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (peer_ >= 0 && done < bytes.size()) {
        const ssize_t n = write(peer_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{peer_, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

void PtyPair::ClosePeer() {
    if (peer_ >= 0) close(peer_);
    peer_ = -1;
}

}  // namespace vorlan_test
