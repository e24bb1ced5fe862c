#pragma once
// A relay's protection settings, zone by zone, and their two wire layouts:
// the coded list (answer 0xBD, packed-decimal values of two bytes, then of
// one) and the float layout (answer 0xAD, 4-byte values then 1-byte values).

#include <cstdint>
#include <vector>

#include "model/byte_view.h"
#include "sim_config.h"

namespace vorlan_sim {

struct CodedSetting {
    uint8_t code = 0;
    uint8_t bytes = 2;      // value bytes: 2 (three digits) or 1 (one digit)
    uint8_t decimals = 0;   // 0..2
    bool enabled = true;    // sent as descriptor bit 7 clear
    int32_t digits = 0;     // value x 10^decimals: -999..999, or -9..9 in one byte
};

struct ZoneSettings {
    std::vector<CodedSetting> coded;   // coded-list relays
    std::vector<float> values;         // float-layout relays
    std::vector<uint8_t> bytes;
};

class RelaySettings {
public:
    explicit RelaySettings(const RelayConfig& config);

    bool HasZone(int zone) const { return zone >= 0 && zone < static_cast<int>(zones_.size()); }
    int activeZone() const { return activeZone_; }
    bool SwitchZone(int zone);
    const ZoneSettings& zone(int z) const { return zones_.at(static_cast<size_t>(z)); }

    // The data bytes of the setting answer for `zone` (0xBD or 0xAD by layout).
    uint8_t AnswerCode() const;
    std::vector<uint8_t> AnswerData(int zone) const;

    // Takes the data bytes of a 0x8C request. Stores the values and returns
    // true only when the whole table fits this relay: known zone, every
    // setting present once, each value in range. Nothing changes otherwise.
    bool ApplyWrite(vorlan::ByteView data);
    uint64_t writesStored() const { return writesStored_; }

private:
    bool ApplyCoded(int zone, vorlan::ByteView entries);
    bool ApplyFloat(int zone, vorlan::ByteView rest);

    RelayConfig config_;
    std::vector<ZoneSettings> zones_;
    int activeZone_ = 0;
    uint64_t writesStored_ = 0;
};

}  // namespace vorlan_sim
