// SPDX-License-Identifier: Apache-2.0
#pragma once
// The relays' side of a fault soak: answers each request with the simulated
// relays, shapes the answer with the fault injector, and keeps the books the
// soak is judged by: what every relay last reported intact, which answers
// were spoiled, and how soon a relay was asked again after a spoiled answer.

#include <cstdint>
#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "answer_builder.h"
#include "fault_injector.h"
#include "model/frame.h"

namespace vorlan_test {

// The soak's line: 5% dropped answers, 5% bad CRCs, 2% from another address,
// 1% split and 1% wrapped in line noise.
inline vorlan_sim::FaultRates SoakFaultRates() {
    vorlan_sim::FaultRates rates;
    rates.drop = 0.05;
    rates.badCrc = 0.05;
    rates.wrongAddress = 0.02;
    rates.split = 0.01;
    rates.garbage = 0.01;
    return rates;
}

class SoakLedger {
public:
    enum Kind : uint8_t { kYc = 1, kYx = 2, kYm = 3 };  // the 0x06 answer's data type

    SoakLedger(vorlan_sim::RelayLine& relays, vorlan_sim::FaultInjector& faults)
        : relays_(relays), faults_(faults) {}

    // One whole request from the master: the chunks to put on the line, in
    // time order (none when the answer is dropped or no relay answers).
    std::vector<vorlan_sim::LineChunk> Answer(const std::vector<uint8_t>& request) {
        if (request.size() < vorlan::kFrameOverhead ||
            vorlan::CheckFrame(vorlan::ByteView(request.data(), request.size())) == 0) {
            ++badRequests_;
            return {};
        }
        const uint8_t address = request[0];
        if (address != vorlan::kBroadcastAddress) requests_.push_back(address);
        const std::vector<uint8_t> answer =
            relays_.HandleRequest(vorlan::ByteView(request.data(), request.size()));
        const vorlan_sim::FaultCounts before = faults_.counts();
        std::vector<vorlan_sim::LineChunk> chunks = faults_.Shape(answer);
        if (answer.empty()) return chunks;
        const vorlan_sim::FaultCounts& after = faults_.counts();

        const bool lost = after.dropped > before.dropped || after.badCrc > before.badCrc ||
                          after.wrongAddress > before.wrongAddress;
        const bool intact = after.intact > before.intact;
        if (!intact) faultedAt_.emplace_back(requests_.size() - 1, address);
        if (!lost) Record(answer, intact);
        return chunks;
    }

    // Checks a value the host reads against the relay's reports: it must be
    // the last intact report, or a report after it whose answer was shaped
    // (split, noise around it) and so may or may not have been taken.
    // Returns an empty text when it agrees or nothing was reported.
    std::string Check(uint8_t address, Kind kind, int index, int64_t hostValue) const {
        const auto it = points_.find(Key(address, kind, index));
        if (it == points_.end() || !it->second.hasIntact) return {};
        const Point& p = it->second;
        if (hostValue == p.intact) return {};
        for (int64_t v : p.shapedSince) {
            if (hostValue == v) return {};
        }
        std::ostringstream out;
        out << "relay " << int{address} << " kind " << int{kind} << " index " << index
            << ": host reads " << hostValue << ", last intact report " << p.intact;
        return out.str();
    }
    size_t CheckedPoints() const {
        size_t n = 0;
        for (const auto& entry : points_) n += entry.second.hasIntact ? 1 : 0;
        return n;
    }

    // The most requests to other relays between a spoiled answer and the
    // relay's next request; faults in the last `tail` requests are not judged.
    size_t LongestWaitAfterFault(size_t tail) const {
        size_t longest = 0;
        for (const auto& fault : faultedAt_) {
            if (fault.first + tail >= requests_.size()) continue;
            size_t next = fault.first + 1;
            while (next < requests_.size() && requests_[next] != fault.second) ++next;
            longest = std::max(longest, next - fault.first - 1);
        }
        return longest;
    }

    size_t requests() const { return requests_.size(); }
    size_t faults() const { return faultedAt_.size(); }
    size_t badRequests() const { return badRequests_; }

private:
    struct Point {
        bool hasIntact = false;
        int64_t intact = 0;
        std::vector<int64_t> shapedSince;
    };
    static uint32_t Key(uint8_t address, Kind kind, int index) {
        return (uint32_t{address} << 16) | (uint32_t{kind} << 8) | static_cast<uint32_t>(index);
    }

    // Values come from the relay model, not from decoding the answer, so the
    // driver's decoders are judged by an independent source.
    void Record(const std::vector<uint8_t>& answer, bool intact) {
        if (answer.size() < vorlan::kFrameOverhead + 1 || answer[1] != 0x06 || answer[2] == 0) return;
        vorlan_sim::RelayModel* relay = relays_.Find(answer[0]);
        if (relay == nullptr) return;
        const Kind kind = static_cast<Kind>(answer[3]);
        const size_t triples = (answer[2] - 1u) / 3u;
        for (size_t i = 0; i < triples; ++i) {
            const int index = answer[4 + 3 * i];
            int64_t value = 0;
            switch (kind) {
            case kYc: value = relay->Measurement(index); break;
            case kYx: value = relay->StatusGroup(index); break;
            case kYm: value = relay->Counter(index); break;
            default: return;
            }
            Point& p = points_[Key(answer[0], kind, index)];
            if (intact) {
                p.hasIntact = true;
                p.intact = value;
                p.shapedSince.clear();
            } else {
                p.shapedSince.push_back(value);
            }
        }
    }

    vorlan_sim::RelayLine& relays_;
    vorlan_sim::FaultInjector& faults_;
    std::map<uint32_t, Point> points_;
    std::vector<uint8_t> requests_;                       // addressed requests, in order
    std::vector<std::pair<size_t, uint8_t>> faultedAt_;   // request number, address
    size_t badRequests_ = 0;
};

}  // namespace vorlan_test
