// SPDX-License-Identifier: Apache-2.0
#pragma once
// A real pseudo-terminal: the driver opens `path`, the test plays the relay
// on `peer` (raw mode, non-blocking).

#include <cstdint>
#include <string>
#include <vector>

namespace vorlan_test {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& path() const { return path_; }
    int peer() const { return peer_; }
    // Reads what has arrived within `timeoutMs`.
    std::vector<uint8_t> ReadPeer(int timeoutMs);
    // Reads until `count` bytes or `timeoutMs`.
    std::vector<uint8_t> ReadPeerExactly(size_t count, int timeoutMs);
    void WritePeer(const std::vector<uint8_t>& bytes);
    void ClosePeer();

private:
    int peer_ = -1;
    std::string path_;
};

}  // namespace vorlan_test
