// SPDX-License-Identifier: Apache-2.0
#pragma once
// The whole service: the lines, the Modbus server, the MQTT link and the
// status page wired together, started and stopped in order.

#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "audit_log.h"
#include "driver_library.h"
#include "gateway_config.h"
#include "line_worker.h"
#include "modbus_server.h"
#include "mqtt_link.h"
#include "relay_points.h"

namespace vorlan_gateway {

class OpcuaServer;
class StatusServer;

// Raises the open-file limit to what `config` needs; empty text when it
// can be held, else why not.
std::string RaiseFileLimit(const GatewayConfig& config);

class Gateway {
public:
    explicit Gateway(GatewayConfig config);
    ~Gateway();

    // Loads the driver, creates the components, starts everything; empty text on success.
    std::string Start();
    // Publishes every relay's health (called every health_interval_s).
    void PublishHealth();
    // Controls first: no new ones, every queued one answered `stopping`;
    // then the lines, the Modbus clients, the status page and MQTT.
    void Stop();

    // Everything the status page shows.
    nlohmann::json Status();

    int healthIntervalS() const { return config_.mqtt.healthIntervalS; }

private:
    RelayPoints* Unit(int unit);
    LineWorker& LineOf(const RelayPoints& relay) { return *lines_.at(relay.line); }
    // Runs a control with its deadline from now; `done` gets the outcome once, audited.
    void RunControl(RelayPoints& relay, int point, bool close, const std::string& source,
                    std::function<void(const ControlOutcome&)> done);
    void OnMqttControl(const std::string& topic, const std::string& payload, bool retained);
    void OnValue(const RelayPoints& relay, const PointChange& change);
    void OnEvent(const RelayPoints& relay, int input, int state, int64_t time);
    nlohmann::json RelayJson(const RelayPoints& r, int64_t now);

    GatewayConfig config_;
    std::unique_ptr<vorlan_host::DriverLibrary> library_;
    std::vector<std::unique_ptr<RelayPoints>> relays_;
    std::vector<std::unique_ptr<LineWorker>> lines_;
    std::unique_ptr<ModbusServer> modbus_;
    std::unique_ptr<MqttLink> mqtt_;
    std::unique_ptr<StatusServer> status_;
    std::unique_ptr<OpcuaServer> opcua_;
    AuditLog audit_;
    std::atomic<bool> stopping_{false};
    bool stopped_ = false;
};

}  // namespace vorlan_gateway
