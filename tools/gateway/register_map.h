// SPDX-License-Identifier: Apache-2.0
#pragma once
// The Modbus register map of one relay (unit id = the relay's unit):
//   input registers  YCn  at 2(n-1), IEEE float, two registers
//                    YMn  at 1000 + 2(n-1), unsigned 32-bit, two registers
//                    quality block at 2000..2011, six unsigned 32-bit values
//   discrete inputs  YXn  at n-1
//   coils            YKn  at n-1, only on relays with allow_control
// Two-register values go high word first unless the words are swapped.

#include <cstdint>
#include <string>
#include <memory>
#include <vector>

#include "gateway_config.h"
#include "relay_points.h"

namespace vorlan_gateway {

constexpr int kYcBase = 0;
constexpr int kYmBase = 1000;
constexpr int kQualityBase = 2000;
constexpr int kQualityRegisters = 12;

enum class Table { Coils, DiscreteInputs, InputRegisters };

// Does every address of first..first+count-1 lie in the relay's map?
bool InMap(const RelayPoints& relay, Table table, int first, int count);

// Is every value in first..first+count-1 of good quality? The quality block
// and the coils (the gateway's own record) always are. The caller holds relay.lock.
bool AllGood(const RelayPoints& relay, Table table, int first, int count);

// Fills `count` input registers from `first`; the caller holds relay.lock
// and has checked the range with InMap.
void FillInputRegisters(const RelayPoints& relay, int first, int count, bool wordsLittle, int64_t now100ns,
                        uint16_t* out);

// The relay points for a configuration (one per relay, lines in order).
std::vector<std::unique_ptr<RelayPoints>> BuildRelayPoints(const GatewayConfig& config);

// The map as text, for --map and the README.
std::string MapText(const GatewayConfig& config);

}  // namespace vorlan_gateway
