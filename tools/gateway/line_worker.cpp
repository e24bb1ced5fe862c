#include "line_worker.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "log.h"

namespace vorlan_gateway {

namespace {

using vorlan_host::HostSession;
using vorlan_host::PacketBox;
using Clock = std::chrono::steady_clock;

constexpr size_t kControlQueue = 16;
constexpr auto kReopenPause = std::chrono::seconds(2);
constexpr uint16_t kBwyxToOne = 10001;   // BWYX 10001.. : input went to 1
// Answers after which a register still all 0 is taken as the relay's own zeros.
constexpr uint32_t kSettleAnswers = 20;
// The driver sends the select and the execute to the relay as its next two
// requests; three answers without a confirmation mean it did not happen.
constexpr uint32_t kAnswersToConfirm = 3;
// YK values: 30/31 ask for open/close; 40/41 the relay's confirmation; 55 cancels.
constexpr int kYkOpen = 30, kYkClose = 31, kYkOpened = 40, kYkClosed = 41, kYkCancel = 55;

// Seen-table offsets: YC, then YM, then YX.
constexpr size_t kSeenYm = kYcPoints;
constexpr size_t kSeenYx = kYcPoints + kYmPoints;
constexpr size_t kSeenSize = kYcPoints + kYmPoints + kYxPoints;

}  // namespace

const char* ControlResultName(ControlResult r) {
    switch (r) {
        case ControlResult::Done: return "done";
        case ControlResult::Refused: return "refused";
        case ControlResult::Failed: return "failed";
        case ControlResult::TimedOut: return "timeout";
        case ControlResult::LineDown: return "line_down";
        case ControlResult::Stopping: return "stopping";
    }
    return "failed";
}

LineWorker::LineWorker(vorlan_host::DriverLibrary& library, const LineConfig& config, std::vector<RelayPoints*> relays,
                       RelayStatsFunction stats, int controlTimeoutMs, LineListener listener)
    : library_(library),
      config_(config),
      relays_(std::move(relays)),
      stats_(stats),
      controlTimeoutMs_(controlTimeoutMs),
      listener_(std::move(listener)) {
    seen_.assign(relays_.size(), std::vector<Seen>(kSeenSize));
    lastOk_.assign(relays_.size(), 0);
}

LineWorker::~LineWorker() { Stop(); }

std::string LineWorker::Prepare() {
    session_ = std::make_unique<HostSession>(library_, config_.station);
    const std::string port = config_.station.channel.port;
    session_->onLineEvent = [port](const std::string& text) { Log(kWarning, "line " + port + ": " + text); };
    const vorlan_host::Status s = session_->Start(true);
    return s.ok() ? std::string() : "line " + port + ": " + s.message;
}

void LineWorker::Start() { thread_ = std::thread([this] { Run(); }); }

void LineWorker::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    FailQueued(ControlResult::Stopping, "the gateway is stopping");
}

void LineWorker::Control(ControlOrder order) {
    if (!open_) {
        order.done({ControlResult::LineDown, "the line " + port() + " is not open"});
        return;
    }
    std::unique_lock<std::mutex> hold(queueLock_);
    if (stop_) {
        hold.unlock();
        order.done({ControlResult::Stopping, "the gateway is stopping"});
        return;
    }
    if (queue_.size() >= kControlQueue) {
        hold.unlock();
        order.done({ControlResult::Refused, "too many controls waiting on this line"});
        return;
    }
    queue_.push_back(std::move(order));
}

bool LineWorker::TakeControl(ControlOrder& order) {
    std::lock_guard<std::mutex> hold(queueLock_);
    if (queue_.empty()) return false;
    order = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

void LineWorker::FailQueued(ControlResult result, const std::string& reason) {
    std::deque<ControlOrder> failed;
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        failed.swap(queue_);
    }
    for (ControlOrder& o : failed) o.done({result, reason});
}

void LineWorker::Run() {
    auto nextOpen = Clock::now();
    auto nextRead = Clock::now();
    bool refusedReported = false;
    while (!stop_) {
        if (!open_) {
            FailQueued(ControlResult::LineDown, "the line " + port() + " is not open");
            if (Clock::now() >= nextOpen) {
                const vorlan_host::Status s = session_->OpenChannel();
                if (s.ok()) {
                    open_ = true;
                    Log(kInfo, "line " + port() + ": open, " + std::to_string(relays_.size()) + " relay(s)");
                    continue;
                }
                if (!refusedReported) Log(kWarning, "line " + port() + ": " + s.message + "; trying again every 2 s");
                refusedReported = true;
                nextOpen = Clock::now() + kReopenPause;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        ControlOrder order;
        if (TakeControl(order)) {
            RunControl(order);
            continue;
        }
        session_->SendNext();
        if (Clock::now() >= nextRead) {
            ReadValues();
            nextRead = Clock::now() + std::chrono::milliseconds(config_.readIntervalMs);
        }
    }
}

void LineWorker::ReadHealth() {
    for (size_t r = 0; r < relays_.size(); ++r) {
        RelayHealth h;
        if (stats_) {
            RelayStatsRecord s{};
            if (stats_(session_->driver(), static_cast<int32_t>(r), &s) == 1) {
                h.known = true;
                h.requestsSent = s.requestsSent;
                h.answered = s.answersTaken;
                h.timeouts = s.timeouts;
                h.rejected = s.rejectedAnswers;
                h.failed = s.timeouts + s.rejectedAnswers;
                h.consecutiveFailures = s.consecutiveFailures;
                h.lastAnswer = static_cast<int64_t>((static_cast<uint64_t>(s.lastAnswer.highDateTime) << 32) |
                                                    s.lastAnswer.lowDateTime);
            }
        }
        if (!h.known) {
            // A driver without statistics: the Send packets named for the relay.
            const vorlan_host::PacketCounts& c = session_->counts(r);
            h.answered = static_cast<uint32_t>(c.ok);
            h.failed = static_cast<uint32_t>(c.failed);
            h.requestsSent = static_cast<uint32_t>(c.ok + c.failed);
            std::lock_guard<std::mutex> hold(relays_[r]->lock);
            h.lastAnswer = c.ok != lastOk_[r] ? NowFileTime() : relays_[r]->health.lastAnswer;
            lastOk_[r] = c.ok;
        }
        std::lock_guard<std::mutex> hold(relays_[r]->lock);
        relays_[r]->health = h;
        relays_[r]->answered = relays_[r]->answered || h.answered > 0;
    }
}

void LineWorker::ReadValues() {
    ReadHealth();
    std::vector<PointChange> changes;
    for (size_t r = 0; r < relays_.size(); ++r) {
        RelayPoints& relay = *relays_[r];
        {
            std::lock_guard<std::mutex> hold(relay.lock);
            if (!relay.answered) continue;   // the driver's initial zeros are not the relay's values
        }
        changes.clear();
        for (PacketBox* box : session_->StationPackets(r)) {
            const int reg = box->registerIndex;
            if (reg != vorlan_host::kYC && reg != vorlan_host::kYM && reg != vorlan_host::kYX &&
                reg != vorlan_host::kBWYX) {
                continue;
            }
            // The driver shows status changes on every second BWYX read; two
            // reads in a row deliver what the last answer brought at once.
            const int reads = reg == vorlan_host::kBWYX ? 2 : 1;
            for (int read = 0; read < reads; ++read) {
                if (!session_->Run(*box)) continue;
                std::lock_guard<std::mutex> hold(relay.lock);
                bool* live = reg == vorlan_host::kYC ? &relay.ycLive
                             : reg == vorlan_host::kYM ? &relay.ymLive
                             : reg == vorlan_host::kYX ? &relay.yxLive
                                                       : nullptr;
                if (live && !*live) {
                    bool sent = relay.health.answered >= kSettleAnswers;
                    for (const HostItem& item : box->items) {
                        uint32_t bits = 0;
                        std::memcpy(&bits, item.value, sizeof bits);
                        sent = sent || bits != 0;
                    }
                    if (!sent) continue;
                    *live = true;
                }
                for (const HostItem& item : box->items) {
                    const int a = item.address;
                    const int64_t t = HostSession::ItemTime100ns(item);
                    uint32_t bits = 0;
                    std::memcpy(&bits, item.value, sizeof bits);
                    if (reg == vorlan_host::kBWYX) {
                        if (bits != 1 || !listener_.onEvent) continue;
                        const bool toOne = a >= kBwyxToOne;
                        listener_.onEvent(relay, toOne ? a - kBwyxToOne + 1 : a, toOne ? 1 : 0, t);
                        continue;
                    }
                    size_t slot = 0;
                    PointChange c;
                    if (reg == vorlan_host::kYC && a >= 1 && a <= kYcPoints) {
                        slot = static_cast<size_t>(a - 1);
                        std::memcpy(&relay.ycValue[a - 1], item.value, sizeof(float));
                        c.item = "YC" + std::to_string(a);
                        c.isFloat = true;
                        c.value = relay.ycValue[a - 1];
                    } else if (reg == vorlan_host::kYM && a >= 1 && a <= kYmPoints) {
                        slot = kSeenYm + static_cast<size_t>(a - 1);
                        relay.ymValue[a - 1] = bits;
                        c.item = "YM" + std::to_string(a);
                        c.value = bits;
                    } else if (reg == vorlan_host::kYX && a >= 1 && a <= kYxPoints) {
                        slot = kSeenYx + static_cast<size_t>(a - 1);
                        bits = bits != 0;
                        relay.yxValue[a - 1] = bits != 0;
                        c.item = "YX" + std::to_string(a);
                        c.value = bits;
                    } else {
                        continue;
                    }
                    Seen& seen = seen_[r][slot];
                    if (seen.known && seen.bits == bits && seen.quality == item.quality) continue;
                    seen = Seen{true, bits, item.quality};
                    c.quality = item.quality;
                    c.time = t;
                    changes.push_back(std::move(c));
                }
            }
        }
        if (listener_.onValue) {
            for (const PointChange& c : changes) listener_.onValue(relay, c);
        }
    }
}

void LineWorker::RunControl(ControlOrder& order) {
    RelayPoints& relay = *relays_.at(order.relay);
    const std::string item = "YK" + std::to_string(order.point);
    const std::string what = "relay " + std::to_string(relay.address) + " " + item + " " +
                             (order.close ? "close" : "open");
    const int expected = order.close ? kYkClosed : kYkOpened;
    ReadHealth();
    RelayHealth before;
    {
        std::lock_guard<std::mutex> hold(relay.lock);
        before = relay.health;
    }
    Log(kInfo, "line " + port() + ": control " + what);
    const vorlan_host::Status w = session_->Write(order.relay, item, order.close ? kYkClose : kYkOpen);
    if (!w.ok()) {
        Log(kWarning, "line " + port() + ": control " + what + ": " + w.message);
        order.done({ControlResult::Failed, w.message});
        return;
    }
    ControlOutcome outcome{ControlResult::TimedOut,
                           "no confirmation from the relay within " + std::to_string(controlTimeoutMs_) + " ms"};
    const auto deadline = Clock::now() + std::chrono::milliseconds(controlTimeoutMs_);
    size_t turn = order.relay;
    bool confirmed = false;
    while (Clock::now() < deadline) {
        if (stop_) {
            outcome = {ControlResult::Stopping, "the gateway stopped before the relay confirmed"};
            break;
        }
        // The driver picks whom it asks; naming the packets round the relays
        // keeps each relay's own failure marks honest.
        session_->Send(turn++ % relays_.size());
        double v = 0;
        if (session_->ReadNumber(order.relay, item, v) && static_cast<int>(v) == expected) {
            confirmed = true;
            break;
        }
        ReadValues();
        RelayHealth now;
        {
            std::lock_guard<std::mutex> hold(relay.lock);
            now = relay.health;
        }
        if (now.known && now.failed > before.failed) {
            outcome = {ControlResult::Failed, "an exchange with the relay failed; the driver dropped the control"};
            break;
        }
        if (now.known && now.answered >= before.answered + kAnswersToConfirm) {
            outcome = {ControlResult::Refused, "the relay answered without carrying out the control"};
            break;
        }
    }
    if (confirmed) {
        {
            std::lock_guard<std::mutex> hold(relay.lock);
            relay.ykClosed[static_cast<size_t>(order.point - 1)] = order.close;
        }
        Log(kInfo, "line " + port() + ": control " + what + ": confirmed by the relay");
        order.done({ControlResult::Done, {}});
        ReadValues();
        return;
    }
    // Nothing of this control may reach the relay later.
    session_->Write(order.relay, item, kYkCancel);
    Log(kWarning, "line " + port() + ": control " + what + ": " + outcome.reason);
    order.done(outcome);
}

}  // namespace vorlan_gateway
