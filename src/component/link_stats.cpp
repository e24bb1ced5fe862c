// SPDX-License-Identifier: Apache-2.0
#include "component/link_stats.h"

namespace vorlan {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

template <typename T>
void Increment(std::atomic<T>& count) {
    count.store(count.load(kRelaxed) + 1, kRelaxed);  // one writer: no read-modify-write needed
}

}  // namespace

void LinkStatsTable::Register(int32_t index, uint8_t address) {
    if (index < 0 || index >= kMaxDevices) return;
    relays_[static_cast<size_t>(index)].address.store(address, kRelaxed);
    registered_.store(index + 1, std::memory_order_release);
}

void LinkStatsTable::Note(int32_t index, ExchangeOutcome outcome, bool answerTaken,
                          uint64_t nowFileTime) {
    if (index < 0 || index >= registered_.load(kRelaxed)) return;
    RelayLinkStats& s = relays_[static_cast<size_t>(index)];
    switch (outcome) {
    case ExchangeOutcome::NothingSent:
    case ExchangeOutcome::Refused:
    case ExchangeOutcome::Broadcast:
        return;
    case ExchangeOutcome::WriteFailed:
        break;  // never reached the relay, but the relay is not being served
    case ExchangeOutcome::TimedOut:
        Increment(s.requestsSent);
        Increment(s.timeouts);
        break;
    case ExchangeOutcome::ReadFailed:
        Increment(s.requestsSent);
        break;
    case ExchangeOutcome::ForeignAnswer:
        Increment(s.requestsSent);
        Increment(s.rejectedAnswers);
        break;
    case ExchangeOutcome::Answered:
        Increment(s.requestsSent);
        if (answerTaken) {
            Increment(s.answersTaken);
            s.consecutiveFailures.store(0, kRelaxed);
            s.lastAnswerFileTime.store(nowFileTime, kRelaxed);
            return;
        }
        Increment(s.rejectedAnswers);
        break;
    }
    Increment(s.consecutiveFailures);
}

void LinkStatsTable::NoteBackoff(int32_t index, bool inBackoff, uint32_t intervalMs, uint32_t dueTick) {
    if (index < 0 || index >= registered_.load(kRelaxed)) return;
    RelayLinkStats& s = relays_[static_cast<size_t>(index)];
    // The due tick first: a reader that sees the flag sees a due tick at
    // least as new as the one that went with it, or an older one that has
    // passed (it then shows 0 ms left).
    s.retryDueTick.store(dueTick, kRelaxed);
    s.retryIntervalMs.store(inBackoff ? intervalMs : 0, kRelaxed);
    s.inBackoff.store(inBackoff ? 1 : 0, kRelaxed);
}

bool LinkStatsTable::Read(int32_t index, VorlanRelayStats& out, uint32_t nowTick) const {
    if (index < 0 || index >= registered_.load(std::memory_order_acquire)) return false;
    const RelayLinkStats& s = relays_[static_cast<size_t>(index)];
    out.address = s.address.load(kRelaxed);
    out.requestsSent = s.requestsSent.load(kRelaxed);
    out.answersTaken = s.answersTaken.load(kRelaxed);
    out.timeouts = s.timeouts.load(kRelaxed);
    out.rejectedAnswers = s.rejectedAnswers.load(kRelaxed);
    out.consecutiveFailures = s.consecutiveFailures.load(kRelaxed);
    const uint64_t last = s.lastAnswerFileTime.load(kRelaxed);
    out.lastAnswer.lowDateTime = static_cast<uint32_t>(last);
    out.lastAnswer.highDateTime = static_cast<uint32_t>(last >> 32);
    out.inBackoff = s.inBackoff.load(kRelaxed);
    out.retryIntervalMs = out.inBackoff != 0 ? s.retryIntervalMs.load(kRelaxed) : 0;
    const int32_t left = static_cast<int32_t>(s.retryDueTick.load(kRelaxed) - nowTick);
    out.nextRetryInMs = out.inBackoff != 0 && left > 0 ? static_cast<uint32_t>(left) : 0;
    return true;
}

}  // namespace vorlan
