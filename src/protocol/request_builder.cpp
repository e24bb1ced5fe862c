#include "protocol/request_builder.h"

#include "protocol/frame.h"

// Placeholder until the request builder lands.
namespace vorlan {
int32_t BuildRequest(PollingState&, Clock&, uint8_t*, size_t, int32_t& length, int32_t&) {
    length = 0;
    return 1;
}
int32_t BuildSettingWrite(PollingState&, uint8_t*, size_t) { return 0; }
int32_t BuildProbe(uint8_t address, uint8_t* frame, size_t capacity) {
    ByteWriter w(frame, capacity);
    w.Put(address);
    w.Put(0x83);
    w.Put(0x00);
    AppendCrc(w);
    return static_cast<int32_t>(w.size());
}
}  // namespace vorlan
