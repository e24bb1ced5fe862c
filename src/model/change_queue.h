// SPDX-License-Identifier: Apache-2.0
#pragma once
// The per-relay queue of reported status changes, oldest first.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/commands.h"
#include "platform/calendar.h"

namespace vorlan {

struct StatusChange {
    uint8_t source = Code(Answer::StatusChanges);  // answer code that reported it
    uint8_t spare = 0;
    int32_t key = 0;  // input n for a change to 0, n + 10000 for a change to 1
    uint8_t state = 0;
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    int32_t millisecond = 0;
};

// The relay's time of a change as calendar fields (day of week 0), and back.
inline SystemTime TimeOf(const StatusChange& c) {
    return SystemTime{c.year, c.month, 0, c.day, c.hour, c.minute, c.second, c.millisecond};
}
inline void SetTime(StatusChange& c, const SystemTime& t) {
    c.year = t.year;
    c.month = t.month;
    c.day = t.day;
    c.hour = t.hour;
    c.minute = t.minute;
    c.second = t.second;
    c.millisecond = t.milliseconds;
}

class ChangeQueue {
public:
    // A relay whose changes the host never reads can't grow it without bound.
    static constexpr size_t kMaxRecords = 4096;

    ChangeQueue() { records_.reserve(64); }

    // Adds a copy at the end; past kMaxRecords the oldest is dropped.
    void Append(const StatusChange& change);
    size_t Count() const { return records_.size() - head_; }
    int32_t KeyAt(size_t i) const { return records_[head_ + i].key; }
    void RemoveAt(size_t i);
    // Drops the `n` oldest records (every record when n >= Count()).
    void RemoveFront(size_t n) {
        if (n >= Count()) {
            records_.clear();
            head_ = 0;
            return;
        }
        head_ += n;
    }
    // Moves the oldest record with `key` into `out`: 1, or -1 when none has it.
    int Take(int32_t key, StatusChange& out);
    const StatusChange& At(size_t i) const { return records_[head_ + i]; }
    // Keeps the records `keep` accepts, in their order; drops the others.
    template <typename Pred>
    void KeepIf(Pred keep) {
        size_t to = head_;
        for (size_t from = head_; from < records_.size(); ++from) {
            if (!keep(records_[from])) continue;
            if (to != from) records_[to] = records_[from];
            ++to;
        }
        records_.resize(to);
    }

private:
    // Records before head_ have left the queue; removing the oldest, the
    // usual case, only moves head_. They are dropped before the storage grows.
    void Compact();

    std::vector<StatusChange> records_;
    size_t head_ = 0;
};

}  // namespace vorlan
