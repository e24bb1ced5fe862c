#pragma once
// The Modbus TCP server: one thread accepts, one thread per client answers
// its requests. Reads come from the relays' points in memory; a coil write
// is a remote control, answered once the line reports its outcome.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gateway_config.h"
#include "line_worker.h"
#include "relay_points.h"

namespace vorlan_gateway {

class ModbusServer {
public:
    // `control` runs a control and returns its outcome (blocking).
    using ControlFn = std::function<ControlOutcome(RelayPoints&, int point, bool close)>;

    ModbusServer(const ModbusConfig& config, std::vector<RelayPoints*> relays, ControlFn control);
    ~ModbusServer();

    // Binds and listens; empty text on success.
    std::string Start();
    // Closes the listening socket and every client; waits for their threads.
    void Stop();
    int port() const { return config_.port; }

private:
    void AcceptLoop();
    void Serve(int socket);

    ModbusConfig config_;
    std::map<int, RelayPoints*> units_;
    ControlFn control_;
    int listenSocket_ = -1;
    std::atomic<bool> stop_{false};
    std::thread acceptThread_;
    std::mutex clientsLock_;
    std::condition_variable clientsGone_;
    std::set<int> clients_;                // sockets of the connected clients
};

}  // namespace vorlan_gateway
