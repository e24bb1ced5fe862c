#include "eng_units.h"

namespace vorlan_gateway {

namespace {

const EngUnit kUnits[] = {
    {"A", "AMP", "ampere"},           {"kA", "B22", "kiloampere"},     {"mA", "4K", "milliampere"},
    {"V", "VLT", "volt"},             {"kV", "KVT", "kilovolt"},       {"W", "WTT", "watt"},
    {"kW", "KWT", "kilowatt"},        {"MW", "MAW", "megawatt"},       {"kvar", "KVR", "kilovar"},
    {"VA", "D46", "volt ampere"},     {"kVA", "KVA", "kilovolt ampere"}, {"MVA", "MVA", "megavolt ampere"},
    {"Wh", "WHR", "watt hour"},       {"kWh", "KWH", "kilowatt hour"}, {"MWh", "MWH", "megawatt hour"},
    {"Hz", "HTZ", "hertz"},           {"°C", "CEL", "degree Celsius"}, {"%", "P1", "percent"},
    {"ohm", "OHM", "ohm"},            {"Ω", "OHM", "ohm"},             {"s", "SEC", "second"},
    {"ms", "C26", "millisecond"},     {"°", "DD", "degree (angle)"},
};

}  // namespace

const EngUnit* FindEngUnit(const std::string& text) {
    for (const EngUnit& u : kUnits) {
        if (text == u.text) return &u;
    }
    return nullptr;
}

int32_t EngUnitId(const EngUnit& unit) {
    uint32_t id = 0;
    for (const char* c = unit.code; *c; ++c) id = id << 8 | static_cast<uint8_t>(*c);
    return static_cast<int32_t>(id);
}

std::string EngUnitList() {
    std::string out;
    for (const EngUnit& u : kUnits) out += (out.empty() ? "" : ", ") + std::string(u.text);
    return out;
}

}  // namespace vorlan_gateway
