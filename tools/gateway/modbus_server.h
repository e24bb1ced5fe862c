#pragma once
// The Modbus TCP server: one thread with epoll accepts every client and
// answers its requests. Reads come from the relays' points in memory; a coil
// write is a remote control, answered once the line reports its outcome,
// while the client's later requests wait their turn.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control_order.h"
#include "gateway_config.h"
#include "modbus_request.h"
#include "relay_points.h"

namespace vorlan_gateway {

struct ModbusClientInfo {
    std::string peer;            // "127.0.0.1:40312"
    int64_t connected = 0;       // 100 ns since 1601, UTC
    uint64_t requests = 0;
    bool waiting = false;        // for a control's outcome
};

class ModbusServer {
public:
    using ControlDone = std::function<void(const ControlOutcome&)>;
    // Runs a control and calls `done` once with its outcome, on any thread.
    using ControlFn = std::function<void(RelayPoints&, int point, bool close, const std::string& source, ControlDone done)>;

    ModbusServer(const ModbusConfig& config, std::vector<RelayPoints*> relays, ControlFn control);
    ~ModbusServer();
    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    // Binds every listen address and starts the thread; empty text on success.
    std::string Start();
    // Takes no more clients and no more controls (answered busy, exception 6).
    void Quiesce();
    // Sends every control answer still owed, closes every client, ends the thread.
    void Stop();

    std::vector<ModbusClientInfo> Clients();
    uint64_t refusedClients() const { return refusedTotal_; }

private:
    using Clock = std::chrono::steady_clock;
    struct Client {
        int fd = -1;
        std::string peer;
        std::vector<uint8_t> in;             // bytes received, not yet a whole request
        std::vector<uint8_t> pending;        // the control request being run
        Clock::time_point heard;
        ModbusClientInfo info;
    };
    struct Completion {
        uint64_t client;
        ControlOutcome outcome;
    };

    void Loop();
    void Accept(int listenSocket);
    void TakeClient(int fd, const std::string& peer);
    void Receive(uint64_t id);
    void ServeBuffered(uint64_t id);
    bool ServeOne(uint64_t id, Client& c, const uint8_t* req, int size);
    void RunCompletions();
    void Drop(uint64_t id, const char* why);
    void Watch(const Client& c, uint64_t id, bool reading);
    void Housekeeping();
    void NoteRefused();
    void Wake();

    ModbusConfig config_;
    RequestHandler handler_;
    ControlFn control_;
    modbus_t* ctx_ = nullptr;                // framing and replies; the socket is set per reply
    std::vector<int> listenSockets_;
    int epoll_ = -1;
    int wake_ = -1;
    int spare_ = -1;                         // kept to shed a connection when descriptors run out
    std::atomic<bool> quiesce_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;

    std::mutex clientsLock_;                 // the loop changes clients_; Clients() reads it
    std::map<uint64_t, Client> clients_;
    uint64_t nextId_ = 0;

    std::mutex doneLock_;
    std::vector<Completion> done_;

    std::atomic<uint64_t> refusedTotal_{0};
    uint64_t refusedBurst_ = 0;
    Clock::time_point lastRefused_;
    Clock::time_point lastHousekeeping_;
};

}  // namespace vorlan_gateway
