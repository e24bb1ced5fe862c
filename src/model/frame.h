// SPDX-License-Identifier: Apache-2.0
#pragma once
// The frame on the line: address, command, length n, n data bytes, CRC-16/ARC
// low byte first. The same layout in both directions.

#include <cstddef>
#include <cstdint>

#include "model/byte_view.h"

namespace vorlan {

constexpr size_t kFrameHeader = 3;                                  // address, command, length
constexpr size_t kFrameCrc = 2;                                     // CRC low, CRC high
constexpr size_t kFrameOverhead = kFrameHeader + kFrameCrc;         // 5
constexpr size_t kMaxFrameData = 255;                               // length is one byte
constexpr size_t kMaxFrame = kFrameOverhead + kMaxFrameData;        // 260
constexpr size_t kPacketFrameBuffer = 512;                          // packet cycle
constexpr size_t kProbeFrameBuffer = 1024;                          // probe
constexpr uint8_t kBroadcastAddress = 0xFF;

// The packet call's frame as it travels: the request going down to the line,
// then the answer coming back, in one buffer the caller owns.
struct FrameBuffer {
    uint8_t* data = nullptr;
    size_t capacity = 0;
    int32_t length = 0;          // bytes of the request, then of the answer
    int32_t expectedLength = 0;  // the answer length the request asks for (for tests and traces)
};

// CRC-16/ARC (reflected 0x8005, init 0, no final XOR) over `size` bytes.
uint16_t ComputeCrc(const uint8_t* data, size_t size);

// 1 when `received` begins with a complete frame whose CRC is right, else 0.
// Bytes after the frame are not examined.
int CheckFrame(ByteView received);

// Appends the CRC of everything written so far, low byte first.
bool AppendCrc(ByteWriter& w);

}  // namespace vorlan
