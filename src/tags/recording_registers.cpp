#include "faultrec/recording_service.h"
#include "platform/atom_table.h"
#include "tags/host_items.h"
#include "tags/served_quality.h"
#include "tags/tag_registers.h"
#include "protocol/conversation.h"

namespace vorlan {
namespace {

constexpr int32_t kNotListed = -2;  // LBID of an empty list entry; LBStart "files written"

// List entry of a host address 1..4, -1 outside the list's storage.
int32_t EntryOf(uint16_t address) {
    return (address >= 1 && address <= kRecordingListSize) ? address - 1 : -1;
}

// The entries the relay reported, never more than the list holds.
int32_t ListedCount(const DeviceRecord& relay) {
    return relay.recording.lbCount < kRecordingListSize ? relay.recording.lbCount : kRecordingListSize;
}

}  // namespace

// Write -1 fetches the list; a listed number fetches that recording from its
// first sample. Read shows -2 once a fetched recording's files are written.
void ServeRecordingStart(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write) {
    HostItem* first = FirstItem(packet);
    if (first == nullptr) return;
    if (!write) {
        if (relay.recording.lbFilesWritten == 0) return;
        SetLong(*first, kNotListed);
        Serve(*first, QualityOfRelay(ctx, relay, ctx.clock.NowFileTime()));
        return;
    }
    const int32_t n = GetLong(*first);
    if (n == -1) {
        AskNext(relay, Request::RecordingList);
    } else if (n >= 1) {
        relay.recording.lbRequestId = n;
        relay.recording.lbIndex = FindRecording(relay, n);
        // Without sample buffers the retrieval fails as an unlisted number
        // does: nothing is asked for, the relay's polling goes on.
        if (relay.recording.lbIndex != -1 && !PrepareRecordingSamples(relay)) {
            relay.recording.lbIndex = -1;
        }
        if (relay.recording.lbIndex != -1) {
            relay.recording.lbNextSample = 0;
            AskNext(relay, Request::RecordingBlock);
        }
    }
}

void ServeRecordingIds(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write) {
    if (write) return;
    const ServedQuality listed = QualityOfValue(ctx, relay, relay.recording.lbListReported, ctx.clock.NowFileTime());
    ForEachItem(packet, [&](HostItem& item) {
        const int32_t entry = EntryOf(item.address);
        if (entry < 0) return;
        SetLong(item, entry < ListedCount(relay) ? relay.recording.lbId[static_cast<size_t>(entry)]
                                                 : kNotListed);
        Serve(item, listed);
    });
}

// Each item gets an atom of its entry's time text (0 for an entry not
// listed). The atom stays valid after the call so the host can read the text;
// the next LBTime read of the same entry releases it. A listed entry whose
// text found no atom is handed out with quality bad, never as a good 0.
void ServeRecordingTimes(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write) {
    if (write) return;
    const ServedQuality listed = QualityOfValue(ctx, relay, relay.recording.lbListReported, ctx.clock.NowFileTime());
    ForEachItem(packet, [&](HostItem& item) {
        const int32_t entry = EntryOf(item.address);
        if (entry < 0) return;
        const size_t e = static_cast<size_t>(entry);
        uint16_t atom = 0;
        if (entry < ListedCount(relay)) atom = AtomAdd(relay.recording.lbTime[e].data(), relay.recording.lbTime[e].size());
        // Added before the old one goes, so an unchanged text keeps its atom.
        if (relay.host.lbTimeAtom[e] != 0) AtomDelete(relay.host.lbTimeAtom[e]);
        relay.host.lbTimeAtom[e] = atom;
        SetAtom(item, atom);
        Serve(item, listed);
        if (atom == 0 && entry < ListedCount(relay)) item.quality = kQualityBad;
    });
}

void ServeRecordingCount(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write) {
    HostItem* first = FirstItem(packet);
    if (write || first == nullptr) return;
    SetByte(*first, relay.recording.lbCount);
    Serve(*first, QualityOfValue(ctx, relay, relay.recording.lbListReported, ctx.clock.NowFileTime()));
}

}  // namespace vorlan
