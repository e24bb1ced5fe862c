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

#include "gateway_config.h"
#include "host_session.h"
#include "relay_points.h"
#include "relay_stats.h"

namespace vorlan_gateway {

enum class ControlResult { Done, Refused, Failed, TimedOut, LineDown, Stopping };

struct ControlOutcome {
    ControlResult result = ControlResult::Failed;
    std::string reason;          // empty when done
};

const char* ControlResultName(ControlResult r);

struct ControlOrder {
    size_t relay = 0;            // place on the line
    int point = 0;               // YK point 1..64
    bool close = false;
    std::function<void(const ControlOutcome&)> done;   // called once, on the line's thread or the caller's
};

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
    // Ends the thread; a control in progress is cancelled and reported failed.
    void Stop();

    // Queues a control; refused at once when the line is down or busy.
    void Control(ControlOrder order);

    const std::string& port() const { return config_.station.channel.port; }

private:
    void Run();
    bool TakeControl(ControlOrder& order);
    void FailQueued(ControlResult result, const std::string& reason);
    void RunControl(ControlOrder& order);
    void ReadValues();
    void ReadHealth();

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
    std::mutex queueLock_;
    std::deque<ControlOrder> queue_;

    struct Seen {
        bool known = false;
        uint32_t bits = 0;
        int quality = 0;
    };
    // Per relay: YC, YM, YX last shown, so only changes go out.
    std::vector<std::vector<Seen>> seen_;
    std::vector<uint64_t> lastOk_;         // the session's answered counts, when the driver has no statistics
};

}  // namespace vorlan_gateway
