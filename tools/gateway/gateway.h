#pragma once
// The whole service: the lines, the Modbus server and the MQTT link wired
// together, started and stopped in order.

#include <memory>
#include <string>
#include <vector>

#include "driver_library.h"
#include "gateway_config.h"
#include "line_worker.h"
#include "modbus_server.h"
#include "mqtt_link.h"
#include "relay_points.h"

namespace vorlan_gateway {

class Gateway {
public:
    explicit Gateway(GatewayConfig config);
    ~Gateway();

    // Loads the driver, creates the components, starts everything; empty text on success.
    std::string Start();
    // Publishes every relay's health (called every health_interval_s).
    void PublishHealth();
    // Modbus first (its clients may wait for controls), then the lines, then MQTT.
    void Stop();

    int healthIntervalS() const { return config_.mqtt.healthIntervalS; }

private:
    RelayPoints* Unit(int unit);
    LineWorker& LineOf(const RelayPoints& relay) { return *lines_.at(relay.line); }
    ControlOutcome ControlAndWait(RelayPoints& relay, int point, bool close);
    void OnMqttControl(const std::string& topic, const std::string& payload, bool retained);
    void OnValue(const RelayPoints& relay, const PointChange& change);
    void OnEvent(const RelayPoints& relay, int input, int state, int64_t time);

    GatewayConfig config_;
    std::unique_ptr<vorlan_host::DriverLibrary> library_;
    std::vector<std::unique_ptr<RelayPoints>> relays_;
    std::vector<std::unique_ptr<LineWorker>> lines_;
    std::unique_ptr<ModbusServer> modbus_;
    std::unique_ptr<MqttLink> mqtt_;
    bool stopped_ = false;
};

}  // namespace vorlan_gateway
