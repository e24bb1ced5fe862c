// SPDX-License-Identifier: Apache-2.0
#include "line_worker.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "log.h"

namespace vorlan_gateway {

namespace {

using vorlan_host::HostSession;
using vorlan_host::PacketBox;
using Clock = ControlClock;

constexpr size_t kControlQueue = 16;
constexpr auto kReopenPause = std::chrono::seconds(2);
constexpr uint16_t kBwyxToOne = 10001;   // BWYX 10001.. : input went to 1
// The driver sends the select and the execute to the relay as its next two
// requests; three answers without a confirmation mean it did not happen.
constexpr uint32_t kAnswersToConfirm = 3;
// Failed exchanges in a row after which a relay counts as not answering
// (the driver marks its values last known after as many).
constexpr uint32_t kSilentAfter = 3;
// YK values: 30/31 ask for open/close; 40/41 the relay's confirmation; 55 cancels.
constexpr int kYkOpen = 30, kYkClose = 31, kYkOpened = 40, kYkClosed = 41, kYkCancel = 55;

// Seen-table offsets: YC, then YM, then YX.
constexpr size_t kSeenYm = kYcPoints;
constexpr size_t kSeenYx = kYcPoints + kYmPoints;
constexpr size_t kSeenSize = kYcPoints + kYmPoints + kYxPoints;

const char kStopping[] = "the gateway is stopping";

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

const char* LineStateName(LineState s) {
    switch (s) {
        case LineState::Open: return "open";
        case LineState::PortMissing: return "port missing";
        case LineState::Reopening: return "reopening";
        case LineState::NoAnswers: return "no answers";
    }
    return "reopening";
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
    lastFailed_.assign(relays_.size(), 0);
    failuresInRow_.assign(relays_.size(), 0);
    silentShown_.assign(relays_.size(), false);
}

LineWorker::~LineWorker() { Stop(); }

std::string LineWorker::Prepare() {
    session_ = std::make_unique<HostSession>(library_, config_.station);
    session_->onLineEvent = [this](const std::string& text) { OnSessionEvent(text); };
    const vorlan_host::Status s = session_->Start(true);
    return s.ok() ? std::string() : "line " + port() + ": " + s.message;
}

void LineWorker::OnSessionEvent(const std::string& text) {
    // The port's going and coming back; the line's silences are told per relay.
    if (text.rfind("line lost", 0) == 0) {
        portGone_ = true;
        Log(kWarning, "line " + port() + ": " + text);
    } else if (text.rfind("line back", 0) == 0) {
        portGone_ = false;
        Log(kWarning, "line " + port() + ": " + text);
    } else {
        Log(kDebug, "line " + port() + ": " + text);
    }
}

void LineWorker::Start() { thread_ = std::thread([this] { Run(); }); }

void LineWorker::RequestStop() {
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        stop_ = true;
    }
    // Nobody waits for these past now: none of them may reach the line.
    FailQueued(ControlResult::Stopping, kStopping);
}

void LineWorker::Stop() {
    RequestStop();
    if (thread_.joinable()) thread_.join();
    FailQueued(ControlResult::Stopping, kStopping);
}

void LineWorker::Control(ControlOrder order) {
    const LineState s = state();
    if (s != LineState::Open) {
        order.done({ControlResult::LineDown, "the line " + port() + " is down (" + LineStateName(s) + ")"});
        return;
    }
    std::unique_lock<std::mutex> hold(queueLock_);
    if (stop_) {
        hold.unlock();
        order.done({ControlResult::Stopping, kStopping});
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
    for (;;) {
        std::unique_lock<std::mutex> hold(queueLock_);
        if (stop_ || queue_.empty()) return false;
        order = std::move(queue_.front());
        queue_.pop_front();
        hold.unlock();
        if (Clock::now() < order.deadline) return true;
        order.done({ControlResult::TimedOut, "its time-out ran out while it waited for the line"});
    }
}

void LineWorker::FailQueued(ControlResult result, const std::string& reason) {
    std::deque<ControlOrder> failed;
    {
        std::lock_guard<std::mutex> hold(queueLock_);
        failed.swap(queue_);
    }
    for (ControlOrder& o : failed) o.done({result, reason});
}

bool LineWorker::TryOpen(bool& refusedReported) {
    const vorlan_host::Status s = session_->OpenChannel();
    if (s.ok()) {
        open_ = true;
        portMissing_ = false;
        Log(kInfo, "line " + port() + ": open, " + std::to_string(relays_.size()) + " relay(s)");
        return true;
    }
    struct stat st {};
    portMissing_ = stat(port().c_str(), &st) != 0 && errno == ENOENT;
    if (!refusedReported) Log(kWarning, "line " + port() + ": " + s.message + "; trying again every 2 s");
    refusedReported = true;
    return false;
}

void LineWorker::Run() {
    auto nextOpen = Clock::now();
    auto nextRead = Clock::now();
    bool refusedReported = false;
    while (!stop_) {
        if (!open_) {
            state_ = static_cast<int>(portMissing_ ? LineState::PortMissing : LineState::Reopening);
            FailQueued(ControlResult::LineDown, "the line " + port() + " is not open");
            if (Clock::now() >= nextOpen) {
                if (TryOpen(refusedReported)) {
                    state_ = static_cast<int>(LineState::Open);
                    continue;
                }
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

RelayHealth LineWorker::GatewayCounts(size_t r) {
    // A driver without statistics: the Send packets named for the relay.
    RelayHealth h;
    const vorlan_host::PacketCounts& c = session_->counts(r);
    h.answered = static_cast<uint32_t>(c.ok);
    h.failed = static_cast<uint32_t>(c.failed);
    h.requestsSent = static_cast<uint32_t>(c.ok + c.failed);
    if (c.ok != lastOk_[r]) failuresInRow_[r] = 0;
    else failuresInRow_[r] += static_cast<uint32_t>(c.failed - lastFailed_[r]);
    h.consecutiveFailures = failuresInRow_[r];
    std::lock_guard<std::mutex> hold(relays_[r]->lock);
    h.lastAnswer = c.ok != lastOk_[r] ? NowFileTime() : relays_[r]->health.lastAnswer;
    lastOk_[r] = c.ok;
    lastFailed_[r] = c.failed;
    return h;
}

void LineWorker::ReadHealth() {
    for (size_t r = 0; r < relays_.size(); ++r) {
        RelayHealth h;
        RelayStatsRecord s{};
        if (stats_ && stats_(session_->driver(), static_cast<int32_t>(r), &s) == 1) {
            h.known = true;
            h.requestsSent = s.requestsSent;
            h.answered = s.answersTaken;
            h.timeouts = s.timeouts;
            h.rejected = s.rejectedAnswers;
            h.failed = s.timeouts + s.rejectedAnswers;
            h.consecutiveFailures = s.consecutiveFailures;
            h.inBackoff = s.inBackoff != 0;
            h.retryIntervalMs = s.retryIntervalMs;
            h.lastAnswer = static_cast<int64_t>((static_cast<uint64_t>(s.lastAnswer.highDateTime) << 32) |
                                                s.lastAnswer.lowDateTime);
        } else {
            h = GatewayCounts(r);
        }
        std::lock_guard<std::mutex> hold(relays_[r]->lock);
        relays_[r]->health = h;
        relays_[r]->answered = relays_[r]->answered || h.answered > 0;
    }
    UpdateStates();
}

std::string LineWorker::RelayNames(bool answering) const {
    std::string out;
    for (const RelayPoints* r : relays_) {
        if ((r->state == RelayState::Ok) != answering) continue;
        out += (out.empty() ? "" : ", ") + std::to_string(r->address) + (r->name.empty() ? "" : " (" + r->name + ")");
    }
    return out.empty() ? "none" : out;
}

void LineWorker::UpdateStates() {
    bool anyAnswering = false;
    std::string changed;
    for (size_t i = 0; i < relays_.size(); ++i) {
        RelayPoints* r = relays_[i];
        std::lock_guard<std::mutex> hold(r->lock);
        const bool silent = r->health.consecutiveFailures >= kSilentAfter;
        if (r->health.inBackoff) r->state = RelayState::Backoff;
        else if (silent || !r->answered) r->state = r->answered ? RelayState::Stale : RelayState::NoAnswer;
        else r->state = RelayState::Ok;
        // Not asked yet is not silence: the line answers until every relay failed.
        anyAnswering = anyAnswering || !silent;
        if (silent != silentShown_[i]) {
            silentShown_[i] = silent;
            changed += (changed.empty() ? "" : "; ") + std::string("relay ") + std::to_string(r->address) +
                       (silent ? " stopped answering" : " answers again");
        }
    }
    LineState line = LineState::Open;
    if (!open_) line = portMissing_ ? LineState::PortMissing : LineState::Reopening;
    else if (portGone_) line = LineState::PortMissing;
    else if (!anyAnswering && !relays_.empty()) line = LineState::NoAnswers;
    const LineState was = state();
    state_ = static_cast<int>(line);
    if (!changed.empty()) {
        Log(kWarning, "line " + port() + ": " + changed + "; answering: " + RelayNames(true) +
                          "; not answering: " + RelayNames(false));
    }
    if (line != was && (line == LineState::NoAnswers || was == LineState::NoAnswers)) {
        Log(kWarning, "line " + port() + ": " + LineStateName(line));
    }
}

void LineWorker::StoreValue(RelayPoints& relay, size_t r, int reg, const HostItem& item,
                            std::vector<PointChange>& changes) {
    const int a = item.address;
    uint32_t bits = 0;
    std::memcpy(&bits, item.value, sizeof bits);
    size_t slot = 0;
    PointChange c;
    if (reg == vorlan_host::kYC && a >= 1 && a <= kYcPoints) {
        slot = static_cast<size_t>(a - 1);
        std::memcpy(&relay.ycValue[a - 1], item.value, sizeof(float));
        relay.ycQuality[a - 1] = item.quality;
        c.item = "YC" + std::to_string(a);
        c.isFloat = true;
        c.value = relay.ycValue[a - 1];
    } else if (reg == vorlan_host::kYM && a >= 1 && a <= kYmPoints) {
        slot = kSeenYm + static_cast<size_t>(a - 1);
        relay.ymValue[a - 1] = bits;
        relay.ymQuality[a - 1] = item.quality;
        c.item = "YM" + std::to_string(a);
        c.value = bits;
    } else if (reg == vorlan_host::kYX && a >= 1 && a <= kYxPoints) {
        slot = kSeenYx + static_cast<size_t>(a - 1);
        bits = bits != 0;
        relay.yxValue[a - 1] = bits != 0;
        relay.yxQuality[a - 1] = item.quality;
        c.item = "YX" + std::to_string(a);
        c.value = bits;
    } else {
        return;
    }
    // A change of quality alone goes out too: the value may now be only the last known.
    Seen& seen = seen_[r][slot];
    if (seen.known && seen.bits == bits && seen.quality == item.quality) return;
    seen = Seen{true, bits, item.quality};
    c.quality = item.quality;
    c.time = HostSession::ItemTime100ns(item);
    changes.push_back(std::move(c));
}

void LineWorker::ReadValues() {
    ReadHealth();
    std::vector<PointChange> changes;
    // Status changes are handed on after the relay's lock is let go, like the
    // values: the listeners may wait on locks of their own.
    struct StatusEvent {
        int input, state;
        int64_t time;
    };
    std::vector<StatusEvent> events;
    for (size_t r = 0; r < relays_.size(); ++r) {
        RelayPoints& relay = *relays_[r];
        changes.clear();
        events.clear();
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
                for (const HostItem& item : box->items) {
                    if (reg != vorlan_host::kBWYX) {
                        StoreValue(relay, r, reg, item, changes);
                        continue;
                    }
                    uint32_t bits = 0;
                    std::memcpy(&bits, item.value, sizeof bits);
                    if (bits != 1 || !listener_.onEvent) continue;
                    const int a = item.address;
                    const bool toOne = a >= kBwyxToOne;
                    events.push_back({toOne ? a - kBwyxToOne + 1 : a, toOne ? 1 : 0, HostSession::ItemTime100ns(item)});
                }
            }
        }
        for (const StatusEvent& e : events) listener_.onEvent(relay, e.input, e.state, e.time);
        if (listener_.onValue) {
            for (const PointChange& c : changes) listener_.onValue(relay, c);
        }
    }
}

bool LineWorker::WaitForConfirmation(ControlOrder& order, const RelayHealth& before, ControlOutcome& outcome) {
    RelayPoints& relay = *relays_.at(order.relay);
    const std::string item = "YK" + std::to_string(order.point);
    const int expected = order.close ? kYkClosed : kYkOpened;
    const auto deadline = std::min(order.deadline, Clock::now() + std::chrono::milliseconds(controlTimeoutMs_));
    outcome = {ControlResult::TimedOut, "no confirmation from the relay within its time-out"};
    size_t turn = order.relay;
    while (Clock::now() < deadline) {
        if (stop_) {
            outcome = {ControlResult::Stopping, "the gateway stopped before the relay confirmed"};
            return false;
        }
        // The driver picks whom it asks; naming the packets round the relays
        // keeps each relay's own failure marks honest.
        session_->Send(turn++ % relays_.size());
        double v = 0;
        if (session_->ReadNumber(order.relay, item, v) && static_cast<int>(v) == expected) return true;
        ReadValues();
        RelayHealth now;
        {
            std::lock_guard<std::mutex> hold(relay.lock);
            now = relay.health;
        }
        if (now.known && now.failed > before.failed) {
            outcome = {ControlResult::Failed, "an exchange with the relay failed; the driver dropped the control"};
            return false;
        }
        if (now.known && now.answered >= before.answered + kAnswersToConfirm) {
            outcome = {ControlResult::Refused, "the relay answered without carrying out the control"};
            return false;
        }
    }
    return false;
}

void LineWorker::RunControl(ControlOrder& order) {
    RelayPoints& relay = *relays_.at(order.relay);
    const std::string item = "YK" + std::to_string(order.point);
    const std::string what = "relay " + std::to_string(relay.address) + " " + item + " " +
                             (order.close ? "close" : "open");
    ReadHealth();
    RelayHealth before;
    {
        std::lock_guard<std::mutex> hold(relay.lock);
        before = relay.health;
    }
    if (stop_) {
        order.done({ControlResult::Stopping, kStopping});
        return;
    }
    Log(kInfo, "line " + port() + ": control " + what);
    const vorlan_host::Status w = session_->Write(order.relay, item, order.close ? kYkClose : kYkOpen);
    if (!w.ok()) {
        Log(kWarning, "line " + port() + ": control " + what + ": " + w.message);
        order.done({ControlResult::Failed, w.message});
        return;
    }
    ControlOutcome outcome;
    if (WaitForConfirmation(order, before, outcome)) {
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
    // When stopping, the cancel goes out now: there is no later exchange to carry it.
    if (stop_) session_->Send(order.relay);
    Log(kWarning, "line " + port() + ": control " + what + ": " + outcome.reason);
    order.done(outcome);
}

}  // namespace vorlan_gateway
