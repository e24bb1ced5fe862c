#include "points/tag_service.h"

// Placeholder until the tag service lands.
namespace vorlan {
int32_t ServePacket(TagContext&, HostPacket* packet, uint8_t*, size_t, int32_t& length,
                    int32_t& expectedLength, int32_t) {
    length = 0;
    expectedLength = 0;
    return (packet->deviceIndex >= 0 && packet->deviceIndex < kMaxDevices) ? 1 : 0;
}
void ReleaseRecordingAtoms(PollingState&) {}
}  // namespace vorlan
