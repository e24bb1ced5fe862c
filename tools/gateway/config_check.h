#pragma once
// Everything about a configuration that can be known without opening a
// port: the driver and its catalogue's verdict on every item, the listen
// addresses, the TLS files, the audit file and the open-file limit.

#include <string>
#include <vector>

#include "gateway_config.h"

namespace vorlan_gateway {

// Open files the gateway needs: each Modbus client, each line's port, the
// broker, the status page's clients, the driver's files and its own sockets.
unsigned long FilesNeeded(const GatewayConfig& config);

// The open-file limit to run with, in `target`; empty text when it can be
// held, else why not. With MQTT on the limit stays at 1024: the MQTT
// library watches its socket with select, which can't take a descriptor past 1023.
std::string PlanFileLimit(const GatewayConfig& config, unsigned long current, unsigned long hardMax,
                          unsigned long& target);

// The problems found, one text each; empty when none.
std::vector<std::string> CheckConfiguration(const GatewayConfig& config);

}  // namespace vorlan_gateway
