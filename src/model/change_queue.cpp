// SPDX-License-Identifier: Apache-2.0
#include "model/change_queue.h"

namespace vorlan {

void ChangeQueue::Append(const StatusChange& change) {
    if (Count() >= kMaxRecords) RemoveAt(0);
    if (head_ > 0 && records_.size() == records_.capacity()) Compact();
    records_.push_back(change);
}

void ChangeQueue::RemoveAt(size_t i) {
    if (i >= Count()) return;
    if (i == 0) {
        ++head_;
        if (head_ == records_.size()) {
            records_.clear();
            head_ = 0;
        }
        return;
    }
    records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(head_ + i));
}

int ChangeQueue::Take(int32_t key, StatusChange& out) {
    for (size_t i = 0; i < Count(); ++i) {
        if (KeyAt(i) == key) {
            out = At(i);
            RemoveAt(i);
            return 1;
        }
    }
    return -1;
}

void ChangeQueue::Compact() {
    records_.erase(records_.begin(), records_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
}

}  // namespace vorlan
