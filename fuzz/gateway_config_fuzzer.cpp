// The gateway's configuration reader over arbitrary text. A configuration
// taken must be one the gateway can serve: at least one line, one control
// flag per relay, every relay on its own Modbus unit id within 1..247, every
// port on one line only, and a topic part without MQTT wildcards, separators
// or control characters.

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "gateway_config.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    vorlan_gateway::GatewayConfig config;
    const std::string error = vorlan_gateway::LoadGatewayConfigText(text, config);
    if (!error.empty()) return 0;
    if (config.lines.empty()) std::abort();
    std::set<int> units;
    std::set<std::string> ports;
    for (const vorlan_gateway::LineConfig& line : config.lines) {
        if (line.allowControl.size() != line.station.relays.size()) std::abort();
        if (!ports.insert(line.station.channel.port).second) std::abort();
        for (const vorlan_host::RelaySpec& relay : line.station.relays) {
            const int unit = line.unitBase + relay.address;
            if (unit < 1 || unit > 247 || !units.insert(unit).second) std::abort();
        }
    }
    const std::string& topic = config.mqtt.topicStation;
    if (topic.empty()) std::abort();
    for (char ch : topic) {
        const unsigned char u = static_cast<unsigned char>(ch);
        if (ch == '/' || ch == '+' || ch == '#' || u <= 0x20 || u == 0x7F) std::abort();
    }
    if (config.modbus.maxClients < 1 || config.modbus.port < 1 || config.modbus.port > 65535) std::abort();
    return 0;
}
