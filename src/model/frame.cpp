// SPDX-License-Identifier: Apache-2.0
#include "model/frame.h"

namespace vorlan {

uint16_t ComputeCrc(const uint8_t* data, size_t size) {
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

int CheckFrame(ByteView received) {
    if (received.size() < kFrameOverhead) return 0;
    const size_t frameSize = received.at(2) + kFrameOverhead;
    if (frameSize > received.size()) return 0;
    const uint16_t crc = ComputeCrc(received.data(), frameSize - kFrameCrc);
    return (received.at(frameSize - 2) == static_cast<uint8_t>(crc) &&
            received.at(frameSize - 1) == static_cast<uint8_t>(crc >> 8))
               ? 1
               : 0;
}

bool AppendCrc(ByteWriter& w) {
    const uint16_t crc = ComputeCrc(w.data(), w.size());
    return w.PutLe(crc, 2);
}

}  // namespace vorlan
