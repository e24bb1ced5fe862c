#include "faultrec/recording_times.h"

#include <cstdio>

#include "faultrec/recording_limits.h"

namespace vorlan {

void MakeRecordingTimes(DeviceRecord& relay, int32_t position, uint32_t second, uint32_t fraction,
                        Clock& clock) {
    if (!IsListPosition(position)) return;
    const size_t i = static_cast<size_t>(position);
    const SystemTime now = clock.NowLocal();

    // Six int fields of at most 11 characters each, or two fields of 10.
    char text[96];
    std::snprintf(text, sizeof text, "%4d%2d%2d%2d%2d%2d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    relay.lbTime[i] = text;

    std::snprintf(text, sizeof text, "%02d/%02d/%04d,%02d:%02d:%02u.%06u", now.month, now.day,
                  now.year, now.hour, now.minute, second, fraction);
    relay.lbStartTimeText[i] = text;
    relay.lbTriggerTimeText[i] = text;
}

}  // namespace vorlan
