// SPDX-License-Identifier: Apache-2.0
#include "faultrec/recording_times.h"

#include <cstdio>

#include "model/recording_limits.h"

namespace vorlan {

namespace {
constexpr uint32_t kMaxSecond = 59;
constexpr uint32_t kMaxFraction = 999999;
}  // namespace

void MakeRecordingTimes(DeviceRecord& relay, int32_t position, uint32_t second, uint32_t fraction,
                        Clock& clock) {
    if (!IsListPosition(position)) return;
    const size_t i = static_cast<size_t>(position);
    const SystemTime now = clock.NowLocal();

    // Six int fields of at most 11 characters each, or two fields of 10.
    char text[96];
    std::snprintf(text, sizeof text, "%4d%2d%2d%2d%2d%2d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    relay.recording.lbTime[i] = text;

    // Readers refuse a second above 59 or a fraction of more than six digits,
    // so the configuration texts hold the relay's fields clamped to those.
    const uint32_t shownSecond = second < kMaxSecond ? second : kMaxSecond;
    const uint32_t shownFraction = fraction < kMaxFraction ? fraction : kMaxFraction;
    std::snprintf(text, sizeof text, "%02d/%02d/%04d,%02d:%02d:%02u.%06u", now.month, now.day,
                  now.year, now.hour, now.minute, shownSecond, shownFraction);
    relay.recording.lbStartTimeText[i] = text;
    relay.recording.lbTriggerTimeText[i] = text;
}

}  // namespace vorlan
