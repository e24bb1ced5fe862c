// SPDX-License-Identifier: Apache-2.0
#pragma once
// The quality and timestamp a served value carries: good and stamped now
// while the relay answers, waiting for data before it ever reported the
// value, the last known value stamped with its answer's time once the relay
// has gone silent or the port is lost.

#include <cstdint>

#include "model/device_record.h"
#include "model/freshness.h"
#include "tags/host_items.h"
#include "tags/tag_service.h"

namespace vorlan {

struct ServedQuality {
    int16_t quality;
    uint64_t stamp;  // UTC FILETIME
};

// A value of `relay` the relay last reported at `reported` (0: never).
inline ServedQuality QualityOfValue(const TagContext& ctx, const DeviceRecord& relay,
                                    uint64_t reported, uint64_t now) {
    if (ctx.legacyQuality) return {kQualityGood, now};
    if (reported == 0) return {VORLAN_QUALITY_WAITING, now};
    if (RelayStale(ctx.state, relay)) return {VORLAN_QUALITY_LAST_KNOWN, reported};
    return {kQualityGood, now};
}

// What is known of the relay as a whole (its status changes): nothing before
// its first answer, nothing new since its last one while it is silent.
inline ServedQuality QualityOfRelay(const TagContext& ctx, const DeviceRecord& relay, uint64_t now) {
    return QualityOfValue(ctx, relay, relay.conversation.lastAnswerTime, now);
}

inline void Serve(HostItem& item, const ServedQuality& q) {
    Stamp(item, q.stamp);
    item.quality = q.quality;
}

}  // namespace vorlan
