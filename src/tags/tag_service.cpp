#include "tags/tag_service.h"

#include "platform/atom_table.h"
#include "tags/change_delivery.h"
#include "tags/host_items.h"
#include "tags/served_quality.h"
#include "tags/tag_registers.h"
#include "protocol/request_builder.h"
#include "protocol/conversation.h"

namespace vorlan {
namespace {

// The array registers address their table from 1; an address outside it
// names no value and leaves its item untouched.
bool InTable(uint16_t address, int count) { return address >= 1 && address <= count; }

// YC, YX and YM answer the same to reads and writes: the stored values, each
// with the quality that says how fresh it is.
void ServeMeasurements(TagContext& ctx, HostPacket* packet, const DeviceRecord& relay) {
    const uint64_t now = ctx.clock.NowFileTime();
    ForEachItem(packet, [&](HostItem& item) {
        if (!InTable(item.address, kYcCount)) return;
        const size_t i = item.address - 1u;
        SetFloat(item, relay.points.ycValue[i]);
        Serve(item, QualityOfValue(ctx, relay, relay.points.ycReported[i], now));
    });
}

void ServeStatusPoints(TagContext& ctx, HostPacket* packet, const DeviceRecord& relay) {
    const uint64_t now = ctx.clock.NowFileTime();
    ForEachItem(packet, [&](HostItem& item) {
        if (!InTable(item.address, kYxCount)) return;
        const size_t i = item.address - 1u;
        SetLong(item, relay.points.yxState[i] != 0 ? 1 : 0);
        Serve(item, QualityOfValue(ctx, relay, relay.points.yxReported[i / 8], now));
    });
}

void ServeCounters(TagContext& ctx, HostPacket* packet, const DeviceRecord& relay) {
    const uint64_t now = ctx.clock.NowFileTime();
    ForEachItem(packet, [&](HostItem& item) {
        if (!InTable(item.address, kYmCount)) return;
        const size_t i = item.address - 1u;
        SetLong(item, static_cast<int32_t>(relay.points.ymValue[i]));
        Serve(item, QualityOfValue(ctx, relay, relay.points.ymReported[i], now));
    });
}

void ServeShow(HostPacket* packet, DeviceRecord& relay, bool write) {
    HostItem* first = FirstItem(packet);
    if (!write || first == nullptr) return;
    if (first->value[0] == 1) relay.host.traceOn = 1;
    if (first->value[0] == 0) relay.host.traceOn = 0;
}

// FG 80 resets the relay's signals with a broadcast that goes out when the
// builder next serves this relay; this packet carries whatever it builds now.
// 90 is acknowledged and nothing more.
void ServeSignalReset(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write,
                      FrameBuffer& frame) {
    HostItem* first = FirstItem(packet);
    if (!write || first == nullptr) return;
    if (first->value[0] == 80) {
        AskNext(relay, Request::Reset);
        SetByte(*first, 0);
        BuildRequest(ctx.state, ctx.clock, frame);
    }
    if (first->value[0] == 90) SetByte(*first, 0);
}

void ServeRtuType(HostPacket* packet, const DeviceRecord& relay) {
    HostItem* first = FirstItem(packet);
    if (first == nullptr) return;
    SetByte(*first, static_cast<uint8_t>(relay.settings.rtuType & 0xFF));
    first->quality = kQualityGood;
}

// A change is shown as 1 on one read and cleared to 0 on the next.
void ServeStatusChanges(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write) {
    if (write) return;
    const ServedQuality known = QualityOfRelay(ctx, relay, ctx.clock.NowFileTime());
    if (relay.host.bwyxPhase == 1) {
        relay.host.bwyxPhase = 0;
        ForEachItem(packet, [&](HostItem& item) {
            SetLong(item, 0);
            item.quality = known.quality;
        });
        return;
    }
    relay.host.bwyxPhase = 1;
    DeliverChanges(relay, packet, ctx.clock, ctx.state.relayZone, known);
}

}  // namespace

int32_t ServePacket(TagContext& ctx, HostPacket* packet, FrameBuffer& frame, int32_t /*origin*/) {
    frame.length = 0;
    frame.expectedLength = 0;
    if (packet == nullptr) return 0;
    if (packet->deviceIndex < 0 || packet->deviceIndex >= kMaxDevices) return 0;
    DeviceRecord& relay = ctx.state.devices[static_cast<size_t>(packet->deviceIndex)];
    const bool write = packet->direction == 1;
    // A write on a record no relay fills would wait there and go to whichever
    // relay is registered at that index later: refused, nothing changed.
    const bool registered = packet->deviceIndex < ctx.state.deviceCount;
    if (write && !registered && packet->registerIndex != VORLAN_REG_SEND) {
        return 0;
    }

    switch (packet->registerIndex) {
    case VORLAN_REG_SEND:
        if (BuildRequest(ctx.state, ctx.clock, frame) == 0) {
            return 0;
        }
        break;
    case VORLAN_REG_SHOW: ServeShow(packet, relay, write); break;
    case VORLAN_REG_YC: ServeMeasurements(ctx, packet, relay); break;
    case VORLAN_REG_YX: ServeStatusPoints(ctx, packet, relay); break;
    case VORLAN_REG_YM: ServeCounters(ctx, packet, relay); break;
    case VORLAN_REG_YK: ServeRemoteControl(ctx, packet, relay, write); break;
    case VORLAN_REG_DZONE: ServeSettingZone(packet, relay, write); break;
    case VORLAN_REG_FG:
        ServeSignalReset(ctx, packet, relay, write, frame);
        break;
    case VORLAN_REG_RTUTYPE: ServeRtuType(packet, relay); break;
    case VORLAN_REG_BWYX: ServeStatusChanges(ctx, packet, relay, write); break;
    case VORLAN_REG_DZWR: ServeSettingWrite(ctx, packet, relay, write); break;
    case VORLAN_REG_DZNOW: ServeZoneSwitch(packet, relay, write); break;
    case VORLAN_REG_LBSTART: ServeRecordingStart(ctx, packet, relay, write); break;
    case VORLAN_REG_LBID: ServeRecordingIds(ctx, packet, relay, write); break;
    case VORLAN_REG_LBTIME: ServeRecordingTimes(ctx, packet, relay, write); break;
    case VORLAN_REG_LBCOUNT: ServeRecordingCount(ctx, packet, relay, write); break;
    default:
        // Alarm, Event, CPU, RtuID and unknown registers deliver nothing.
        break;
    }
    return 1;
}

void ReleaseRecordingAtoms(PollingState& state) {
    for (DeviceRecord& relay : state.devices) {
        for (uint16_t& atom : relay.host.lbTimeAtom) {
            if (atom != 0) AtomDelete(atom);
            atom = 0;
        }
    }
}

}  // namespace vorlan
