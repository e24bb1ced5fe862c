#include "tags/change_delivery.h"

#include <cstddef>
#include <cstring>

#include "tags/host_items.h"

namespace vorlan {

namespace {

// The keys a packet's items ask for (item address - 1), looked up in O(1),
// from one walk of the host's list; the items are then handed out in list
// order from an array, in chunks, so the delivery doesn't chase the list.
class PacketItems {
public:
    explicit PacketItems(HostPacket* packet) {
        // The first chunk is gathered on the way; the walk goes on for the keys.
        const HostItemNode* node = packet->items.first;
        int32_t left = packet->items.count;
        size_t n = 0;
        // Keys usually come in runs within one 64-bit word: that word is
        // gathered in a register and stored when the run ends.
        int32_t word = -1;
        uint64_t run = 0;
        for (; left > 0 && node != nullptr; --left, node = node->next) {
            HostItem* item = node->item;
            if (item == nullptr) continue;
            if (n == kChunk) {
                next_ = node;
                left_ = left;
            }
            const int32_t key = static_cast<int32_t>(item->address) - 1;
            if (n < kChunk) {
                chunk_[n] = item;
                keys_[n] = key;
            }
            ++n;
            if (key < 0 || key >= kKeys) continue;
            if (key / 64 != word) {
                if (word >= 0) Store(word, run);
                word = key / 64;
                run = 0;
            }
            run |= uint64_t{1} << (key % 64);
        }
        if (word >= 0) Store(word, run);
        gathered_ = n < kChunk ? n : kChunk;
    }
    bool Has(int32_t key) const {
        if (key < 0 || key >= kKeys) return false;
        const int32_t word = key / 64;
        return (used_[word / 64] >> (word % 64) & 1u) != 0 && (bits_[word] >> (key % 64) & 1u) != 0;
    }
    // Visits the items as ForEachItem does, each with its key.
    template <typename Fn>
    void ForEach(Fn&& fn) {
        for (size_t n = gathered_; n > 0; n = Gather()) {
            for (size_t i = 0; i < n; ++i) fn(*chunk_[i], keys_[i]);
        }
    }

private:
    // The words of bits_ are valid once marked in used_, so only used_ is
    // cleared for each packet.
    void Store(int32_t word, uint64_t run) {
        uint64_t& used = used_[word / 64];
        const uint64_t mark = uint64_t{1} << (word % 64);
        bits_[word] = (used & mark) != 0 ? bits_[word] | run : run;
        used |= mark;
    }

    // The next chunk after the ones handed out (none once the list is done).
    size_t Gather() {
        size_t n = 0;
        const HostItemNode* node = next_;
        int32_t left = left_;
        for (; n < kChunk && left > 0 && node != nullptr; --left, node = node->next) {
            if (node->item == nullptr) continue;
            chunk_[n] = node->item;
            keys_[n] = static_cast<int32_t>(node->item->address) - 1;
            ++n;
        }
        next_ = node;
        left_ = left;
        return n;
    }

    static constexpr int32_t kKeys = 20000;  // the BWYX address range
    static constexpr size_t kChunk = 256;
    static constexpr int32_t kWords = (kKeys + 63) / 64;
    uint64_t used_[(kWords + 63) / 64] = {};
    uint64_t bits_[kWords];
    HostItem* chunk_[kChunk];
    int32_t keys_[kChunk];
    size_t gathered_ = 0;
    const HostItemNode* next_ = nullptr;  // where the next chunk starts
    int32_t left_ = 0;
};

// The stamps of one delivery. The changes of one report share their time, so
// each distinct relay time (and the current time) is converted once.
class DeliveryStamps {
public:
    DeliveryStamps(Clock& clock, const RelayZone& zone) : clock_(clock), zone_(zone) {}

    uint64_t Of(const StatusChange& c) {
        if (haveLast_ && SameTime(c, last_)) return lastStamp_;
        return Convert(c);
    }
    uint64_t Now() {
        if (!haveNow_) {
            now_ = clock_.NowFileTime();
            haveNow_ = true;
        }
        return now_;
    }

private:
    // The time fields year..millisecond lie together: compared in one go.
    static constexpr size_t kTimeAt = offsetof(StatusChange, year);
    static constexpr size_t kTimeBytes = offsetof(StatusChange, millisecond) + sizeof(int32_t) - kTimeAt;
    static_assert(kTimeBytes == 7 * sizeof(int32_t), "seven adjacent time fields");
    static bool SameTime(const StatusChange& a, const StatusChange& b) {
        return std::memcmp(reinterpret_cast<const unsigned char*>(&a) + kTimeAt,
                           reinterpret_cast<const unsigned char*>(&b) + kTimeAt, kTimeBytes) == 0;
    }
    // Out of line: the common case above stays small. A relay time no
    // calendar holds (an unset clock, fields out of range) is stamped now.
    __attribute__((noinline)) uint64_t Convert(const StatusChange& c) {
        last_ = c;
        if (!zone_.FileTimeOf(TimeOf(c), lastStamp_)) lastStamp_ = Now();
        haveLast_ = true;
        return lastStamp_;
    }

    Clock& clock_;
    const RelayZone& zone_;
    bool haveLast_ = false;
    StatusChange last_;
    uint64_t lastStamp_ = 0;
    bool haveNow_ = false;
    uint64_t now_ = 0;
};

}  // namespace

int32_t DeliverChanges(DeviceRecord& relay, HostPacket* packet, Clock& clock, const RelayZone& zone,
                       ServedQuality known) {
    if (packet == nullptr) return 1;
    ChangeQueue& queue = relay.points.changeQueue;
    PacketItems asked(packet);
    DeliveryStamps stamps(clock, zone);

    // Records that no item of this packet asks for are dropped: those at the
    // front as the delivery reaches them, the rest at the end. Delivered
    // records at the front are counted in `front` and dropped together.
    size_t front = 0;
    size_t count = queue.Count();
    const StatusChange* records = count > 0 ? &queue.At(0) : nullptr;
    asked.ForEach([&](HostItem& item, int32_t key) {
        // The record the item asks for is at the front, the usual case,
        // items asking in the order the changes came: it is read where it lies.
        if (front < count && records[front].key == key) {
            SetLong(item, 1);
            Stamp(item, stamps.Of(records[front]));
            item.quality = known.quality;
            ++front;
            return;
        }
        while (front < count && !asked.Has(records[front].key)) ++front;
        if (front == count) {
            SetLong(item, 0);
            Stamp(item, known.quality == kQualityGood ? stamps.Now() : known.stamp);
            item.quality = known.quality;
            return;
        }
        uint64_t stamp = 0;
        if (records[front].key == key) {
            stamp = stamps.Of(records[front]);
            ++front;
        } else {
            queue.RemoveFront(front);
            front = 0;
            StatusChange change;
            const bool taken = queue.Take(key, change) == 1;
            count = queue.Count();
            records = count > 0 ? &queue.At(0) : nullptr;
            if (!taken) return;
            stamp = stamps.Of(change);
        }
        SetLong(item, 1);
        Stamp(item, stamp);
        item.quality = known.quality;
    });
    queue.RemoveFront(front);
    queue.KeepIf([&asked](const StatusChange& c) { return asked.Has(c.key); });
    return 1;
}

}  // namespace vorlan
