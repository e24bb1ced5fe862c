#pragma once
// The status page over HTTP: every line and relay with its state and
// counters, the latest values with their quality, the Modbus clients, the
// MQTT connection and the last controls. "/" is a page that reloads itself,
// "/status.json" the same as JSON.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "gateway_config.h"

namespace httplib {
class Server;
}

namespace vorlan_gateway {

// The page for a status document (as Gateway::Status gives it).
std::string StatusPage(const nlohmann::json& status, int refreshS);

class StatusServer {
public:
    using Source = std::function<nlohmann::json()>;
    StatusServer(const StatusConfig& config, Source source);
    ~StatusServer();

    // Binds and serves; empty text on success.
    std::string Start();
    void Stop();

private:
    StatusConfig config_;
    Source source_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
};

}  // namespace vorlan_gateway
