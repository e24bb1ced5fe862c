#include "points/change_queue.h"

namespace vorlan {

void ChangeQueue::Append(const StatusChange& change) {
    if (records_.size() >= kMaxRecords) records_.erase(records_.begin());
    records_.push_back(change);
}

void ChangeQueue::RemoveAt(size_t i) {
    if (i < records_.size()) records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(i));
}

int ChangeQueue::Take(int32_t key, StatusChange& out) {
    for (size_t i = 0; i < records_.size(); ++i) {
        if (records_[i].key == key) {
            out = records_[i];
            RemoveAt(i);
            return 1;
        }
    }
    return -1;
}

}  // namespace vorlan
