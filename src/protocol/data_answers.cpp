#include "protocol/data_answers.h"

#include "model/freshness.h"
#include "protocol/codecs.h"
#include "model/frame.h"

namespace vorlan {

namespace {

constexpr uint8_t kMeasurements = 1;
constexpr uint8_t kStatusPoints = 2;
constexpr uint8_t kCounters = 3;
constexpr size_t kDataTriple = 3;
constexpr size_t kChangeHeader = 11;  // spare, nine-byte time stamp, spare
constexpr size_t kChangeStampOffset = kFrameHeader + 1;
constexpr int32_t kChangeToOne = 10000;  // added to the key of a change to 1

}  // namespace

int32_t StoreData(DeviceRecord& relay, ByteView frame, uint64_t answerTime) {
    if (frame.at(0) != relay.address) return 0;
    const size_t n = frame.at(2);
    if (n == 0) return 1;  // nothing carried
    const uint64_t reported = ReportedAt(answerTime);
    const uint8_t type = frame.at(kFrameHeader);
    const size_t triples = (n - 1) / kDataTriple;
    for (size_t i = 0; i < triples; ++i) {
        const size_t at = kFrameHeader + 1 + kDataTriple * i;
        const size_t index = frame.at(at);
        const uint8_t lo = frame.at(at + 1);
        const uint8_t hi = frame.at(at + 2);
        switch (type) {
        case kMeasurements:
            if (index < relay.points.ycValue.size()) {
                relay.points.ycValue[index] = DecodeMeasurement(lo, hi);
                relay.points.ycReported[index] = reported;
            }
            break;
        case kStatusPoints:
            if (index < static_cast<size_t>(kYxGroups)) {
                for (size_t j = 0; j < 8; ++j) relay.points.yxState[8 * index + j] = (hi >> j) & 1u;
                relay.points.yxReported[index] = reported;
            }
            break;
        case kCounters:
            if (index < relay.points.ymValue.size()) {
                relay.points.ymValue[index] = DecodeCounter(lo, hi);
                relay.points.ymReported[index] = reported;
            }
            break;
        default:
            return 1;  // a type the driver doesn't use
        }
    }
    return 1;
}

int32_t StoreChanges(DeviceRecord& relay, ByteView frame) {
    if (frame.at(0) != relay.address) return 0;
    const size_t n = frame.at(2);
    if (n < kChangeHeader + kDataTriple) return 1;  // no whole group
    SystemTime stamp;
    ReadTimeStamp(frame, kChangeStampOffset, stamp);

    StatusChange change;
    change.source = Code(Answer::StatusChanges);
    change.spare = 0;
    SetTime(change, stamp);

    const size_t groups = (n - kChangeHeader) / kDataTriple;
    for (size_t i = 0; i < groups; ++i) {
        const size_t at = kFrameHeader + kChangeHeader + kDataTriple * i;
        const int32_t group = frame.at(at);
        const uint8_t before = frame.at(at + 1);
        const uint8_t after = frame.at(at + 2);
        if (before == after) break;  // an unchanged group ends the report
        for (int32_t j = 0; j < 8; ++j) {
            if (((before ^ after) >> j & 1u) == 0) continue;
            change.state = static_cast<uint8_t>((after >> j) & 1u);
            change.key = 8 * group + j + (change.state ? kChangeToOne : 0);
            relay.points.changeQueue.Append(change);
        }
    }
    return 1;
}

}  // namespace vorlan
