// SPDX-License-Identifier: Apache-2.0
#pragma once
// Remote controls over OPC UA: on relays with allow_control, one object per
// YK point with the methods Select(action), Operate(action), Cancel() and
// SelectAndOperate(action). A Select reserves the relay for the caller's
// session until its Operate (or select_timeout_s); the Operate and the
// SelectAndOperate run the control through the gateway's control path and
// answer once the driver reports the outcome. The calls are answered
// asynchronously, so the server's thread never waits for a line.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audit_log.h"
#include "control_order.h"
#include "opcua_access.h"
#include "relay_points.h"

namespace vorlan_gateway {

// The status code a control's outcome is answered with.
uint32_t OpcuaControlStatus(ControlResult result);

// Runs a control through the gateway: deadline, queue, audit; `done` gets the outcome once.
using OpcuaControlRunner = std::function<void(RelayPoints& relay, int point, bool close, const std::string& source,
                                              std::function<void(const ControlOutcome&)> done)>;

enum class ControlStep { Select, Operate, Cancel, SelectAndOperate };

// The selections and running controls of every relay, one at a time per relay.
class ControlDesk {
public:
    using Clock = std::chrono::steady_clock;

    explicit ControlDesk(std::chrono::milliseconds selectHold) : hold_(selectHold) {}

    // What `step` of `session` on the relay's `point` comes to now: a status
    // to answer at once, or `run` true (then the relay is busy until Finish).
    uint32_t Begin(const RelayPoints* relay, int point, bool close, ControlStep step, const std::string& session,
                   Clock::time_point now, bool& run);
    void Finish(const RelayPoints* relay);

private:
    struct Desk {
        bool running = false;
        int point = 0;                 // selected point; 0 when none
        bool close = false;
        std::string session;
        Clock::time_point until;
    };
    std::chrono::milliseconds hold_;
    std::mutex lock_;
    std::map<const RelayPoints*, Desk> desks_;
};

class OpcuaControls;

}  // namespace vorlan_gateway

#if VORLAN_OPCUA
#include <open62541/server.h>

namespace vorlan_gateway {

class OpcuaControls {
public:
    OpcuaControls(const OpcuaSessions& sessions, OpcuaControlRunner run, std::function<void(AuditEntry)> audit,
                  int selectTimeoutS, int controlTimeoutMs);
    ~OpcuaControls();

    // The async settings the controls need.
    void Configure(UA_ServerConfig& sc) const;
    // The control objects of `relay` below its object `relayId` (node ids "<relayId>/YKn").
    std::string AddRelay(UA_Server* server, UA_UInt16 ns, const std::string& relayId, RelayPoints& relay);
    // Starts taking the calls (the server has started).
    void Start(UA_Server* server);
    void RequestStop();
    // Ends the thread; before the server is deleted.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vorlan_gateway
#endif
