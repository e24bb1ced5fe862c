#include "mbap.h"

namespace vorlan_gateway {

FrameState CheckMbap(const uint8_t* data, size_t size, size_t& frameSize) {
    frameSize = 0;
    // The protocol id comes before the length: a wrong one is known from 4 bytes.
    if (size >= 3 && data[2] != 0) return FrameState::Malformed;
    if (size >= 4 && data[3] != 0) return FrameState::Malformed;
    if (size < 6) return FrameState::NeedMore;
    const size_t length = static_cast<size_t>(data[4]) << 8 | data[5];
    if (length < kMinLengthField || length > kMaxLengthField) return FrameState::Malformed;
    if (size < 6 + length) return FrameState::NeedMore;
    frameSize = 6 + length;
    return FrameState::Whole;
}

}  // namespace vorlan_gateway
