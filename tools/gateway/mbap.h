#pragma once
// Modbus TCP framing: the MBAP header (transaction id, protocol id 0, length
// of unit id and PDU) in front of each request, checked before the request
// is looked at. A header that is not Modbus ends the connection: nothing
// after it can be trusted to start a frame.

#include <cstddef>
#include <cstdint>

namespace vorlan_gateway {

constexpr size_t kMbapHeader = 7;        // with the unit id
constexpr size_t kMaxAdu = 260;          // header 7 + PDU 253
constexpr size_t kMinLengthField = 2;    // unit id and function code
constexpr size_t kMaxLengthField = kMaxAdu - 6;

enum class FrameState { NeedMore, Whole, Malformed };

// Looks at the front of `data`: a whole frame (its size in `frameSize`),
// not enough bytes yet, or a header no Modbus client sends.
FrameState CheckMbap(const uint8_t* data, size_t size, size_t& frameSize);

}  // namespace vorlan_gateway
