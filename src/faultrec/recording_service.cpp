#include "faultrec/recording_service.h"

// Placeholder until fault recordings land.
namespace vorlan {
const std::string& RecordingDir() {
    static const std::string dir = "/var/lib/vorlan/";
    return dir;
}
int32_t FindRecording(const DeviceRecord&, int32_t) { return -1; }
void StoreRecordingList(DeviceRecord&, ByteView, Clock&) {}
void StoreRecordingBlock(DeviceRecord&, ByteView, const std::string&) {}
bool RecordingHasMoreSamples(const DeviceRecord&) { return false; }
}  // namespace vorlan
