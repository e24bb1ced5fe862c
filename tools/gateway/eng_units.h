#pragma once
// The engineering units a configuration may give a measurement, each with the
// UNECE common code OPC UA clients identify it by. Only these are taken: a
// typing error in the configuration is refused rather than shown to clients.

#include <cstdint>
#include <string>

namespace vorlan_gateway {

struct EngUnit {
    const char* text;         // as written in the configuration: "kV"
    const char* code;         // UNECE common code: "KVT"
    const char* description;  // "kilovolt"
};

// The unit written as `text` (case matters: "MW" and "mW" differ); null when unknown.
const EngUnit* FindEngUnit(const std::string& text);
// The unit id OPC UA carries: the code's characters packed, high byte first.
int32_t EngUnitId(const EngUnit& unit);
// Every accepted text, comma-separated, for error messages and the README.
std::string EngUnitList();

}  // namespace vorlan_gateway
