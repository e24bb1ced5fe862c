#pragma once
// The OPC UA server of the gateway: every relay's configured points as
// variables under Objects/Vorlan/<station>/<line>/<relay>, each value with
// the driver's quality as its status code and the answer's time as its
// source time stamp. Runs on its own thread; the lines' threads hand it
// their changes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gateway_config.h"
#include "line_worker.h"
#include "opcua_controls.h"
#include "relay_points.h"

namespace vorlan_gateway {

// Whether this gateway was built with OPC UA.
bool OpcuaBuilt();

// The OPC UA status code for a driver quality (VORLAN_QUALITY_*).
uint32_t OpcuaStatusOf(int quality);

// The names of the folders down to a relay below Objects/Vorlan.
struct OpcuaRelayPath {
    std::string station, line, relay;
    // "<station>/<line>/<relay>", each name with '/' as '_': the relay's node id.
    std::string Id() const;
};

// Each relay's path, in `relays`' order. Lines are named by their `name`,
// else "lineN"; relays by their `name`; a name given twice under the same
// parent falls back to "lineN" or "relay A" (A: the address), so every path
// is unique.
std::vector<OpcuaRelayPath> OpcuaRelayPaths(const GatewayConfig& config, const std::vector<RelayPoints*>& relays);

// The node ids of the OPC UA model, one a line, for --map.
std::string OpcuaMapText(const GatewayConfig& config);

class OpcuaServer {
public:
    OpcuaServer(const GatewayConfig& config, std::vector<RelayPoints*> relays);
    ~OpcuaServer();
    OpcuaServer(const OpcuaServer&) = delete;
    OpcuaServer& operator=(const OpcuaServer&) = delete;

    // Where the control methods' calls go; before Start. Without it no control objects are made.
    void SetControls(OpcuaControlRunner run, std::function<void(AuditEntry)> audit);

    // Builds the address space from the relays' current values, opens the
    // port and starts the thread; empty text on success.
    std::string Start();
    // Tells the server's thread to end, without waiting (it waits for the
    // network at most half a second), so it ends while the lines stop.
    void RequestStop();
    void Stop();

    // A value of `relay` changed (called on the line's thread).
    void OnValue(const RelayPoints& relay, const PointChange& change);
    // `relay` reported that input YX<input> changed to `value` at its own
    // `relayTime` (100 ns since 1601, UTC); called on the line's thread, not
    // under the relay's lock.
    void OnStatusChange(const RelayPoints& relay, int input, bool value, int64_t relayTime);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vorlan_gateway
