#include "link/frame_exchange.h"

// Placeholder until the exchange lands: nothing to send succeeds, the rest fails.
namespace vorlan {
int32_t ExchangeFrame(ExchangeContext&, uint8_t*, size_t, int32_t& length, int32_t) {
    return length == 0 ? 1 : 0;
}
}  // namespace vorlan
