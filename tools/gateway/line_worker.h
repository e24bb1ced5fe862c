#pragma once
// One serial line: one component of the driver, polled by its own thread
// with Send packets as fast as the line allows, the relays' values read from
// the driver's memory into their RelayPoints, and remote controls run one at
// a time between the polls. A line that fails is retried calmly and never
// holds up another line.

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control_order.h"
#include "gateway_config.h"
#include "host_session.h"
#include "relay_points.h"
#include "relay_stats.h"

namespace vorlan_gateway {

// The line as a whole: open and answering, its port gone, not open yet (or
// refused) and being retried, or open with no relay answering.
enum class LineState { Open, PortMissing, Reopening, NoAnswers };
const char* LineStateName(LineState s);

// A value that changed (or is shown for the first time).
struct PointChange {
    std::string item;            // "YC3", "YX12", "YM1"
    double value = 0;
    bool isFloat = false;
    int quality = 0;
    int64_t time = 0;            // 100 ns since 1601, UTC
};

struct LineListener {
    std::function<void(const RelayPoints&, const PointChange&)> onValue;
    std::function<void(const RelayPoints&, int input, int state, int64_t time)> onEvent;
};

class LineWorker {
public:
    LineWorker(vorlan_host::DriverLibrary& library, const LineConfig& config, std::vector<RelayPoints*> relays,
               RelayStatsFunction stats, int controlTimeoutMs, LineListener listener);
    ~LineWorker();
    LineWorker(const LineWorker&) = delete;
    LineWorker& operator=(const LineWorker&) = delete;

    // Creates the component and checks the items; empty text on success.
    std::string Prepare();
    void Start();
    // Answers every queued control `stopping` at once and tells the thread
    // to end (a control in progress is cancelled); returns without waiting.
    void RequestStop();
    // RequestStop, then waits for the thread.
    void Stop();

    // Queues a control; refused at once when the line is known lost or busy.
    void Control(ControlOrder order);

    const std::string& port() const { return config_.station.channel.port; }
    LineState state() const { return static_cast<LineState>(state_.load()); }
    const std::vector<RelayPoints*>& relays() const { return relays_; }

private:
    void Run();
    bool TakeControl(ControlOrder& order);
    void FailQueued(ControlResult result, const std::string& reason);
    void RunControl(ControlOrder& order);
    bool TryOpen(bool& refusedReported);
    bool WaitForConfirmation(ControlOrder& order, const RelayHealth& before, ControlOutcome& outcome);
    void ReadValues();
    void StoreValue(RelayPoints& relay, size_t r, int reg, const HostItem& item, std::vector<PointChange>& changes);
    void ReadHealth();
    RelayHealth GatewayCounts(size_t r);
    void UpdateStates();
    void OnSessionEvent(const std::string& text);
    std::string RelayNames(bool answering) const;

    vorlan_host::DriverLibrary& library_;
    LineConfig config_;
    std::vector<RelayPoints*> relays_;
    RelayStatsFunction stats_;
    int controlTimeoutMs_;
    LineListener listener_;
    std::unique_ptr<vorlan_host::HostSession> session_;

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> open_{false};
    std::atomic<bool> portGone_{false};    // the open line's port vanished; the driver reopens it
    std::atomic<bool> portMissing_{false}; // the last open failed for want of the port
    std::atomic<int> state_{static_cast<int>(LineState::Reopening)};
    std::mutex queueLock_;
    std::deque<ControlOrder> queue_;

    struct Seen {
        bool known = false;
        uint32_t bits = 0;
        int quality = 0;
    };
    // Per relay: YC, YM, YX last shown, so only changes go out.
    std::vector<std::vector<Seen>> seen_;
    // The session's counts when the driver has no statistics.
    std::vector<uint64_t> lastOk_, lastFailed_;
    std::vector<uint32_t> failuresInRow_;
    std::vector<bool> silentShown_;         // per relay: its silence has been logged
};

}  // namespace vorlan_gateway
