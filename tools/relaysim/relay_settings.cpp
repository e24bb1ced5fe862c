#include "relay_settings.h"

#include "model/commands.h"

#include <cmath>

#include "protocol/codecs.h"

namespace vorlan_sim {

namespace {

constexpr uint8_t kKindValue = 0;          // descriptor bits 0-2: packed-decimal value
constexpr uint8_t kDisabled = 0x80;        // descriptor bit 7 set: setting off

int32_t Pow10(int d) { return d == 0 ? 1 : d == 1 ? 10 : 100; }
int32_t MaxDigits(uint8_t bytes) { return bytes == 1 ? 9 : 999; }

}  // namespace

RelaySettings::RelaySettings(const RelayConfig& config) : config_(config) {
    zones_.resize(static_cast<size_t>(config.zones));
    for (int z = 0; z < config.zones; ++z) {
        ZoneSettings& zone = zones_[static_cast<size_t>(z)];
        if (config.layout == SettingLayout::Coded) {
            for (int i = 0; i < config.settings; ++i) {
                CodedSetting s;
                s.code = static_cast<uint8_t>(i);
                s.decimals = static_cast<uint8_t>(i % 3);
                s.enabled = (i % 4) != 3;
                s.digits = (100 + 37 * i + 50 * z) % 900 + 10;
                if (i % 7 == 6) s.digits = -s.digits;  // a few negative angles and offsets
                zone.coded.push_back(s);
            }
            // One-digit settings follow, with the codes after the others.
            for (int j = 0; j < config.byteSettings; ++j) {
                CodedSetting s;
                s.code = static_cast<uint8_t>(config.settings + j);
                s.bytes = 1;
                s.decimals = static_cast<uint8_t>(j % 2);
                s.digits = (5 + 4 * j + z) % 10;
                if (j % 3 == 2) s.digits = -s.digits;
                zone.coded.push_back(s);
            }
        } else {
            for (int i = 0; i < config.settings; ++i) {
                zone.values.push_back(static_cast<float>(1.25 * (i + 1) + 0.5 * z));
            }
            for (int i = 0; i < config.byteSettings; ++i) {
                zone.bytes.push_back(static_cast<uint8_t>((i + z) % 2));
            }
        }
    }
}

bool RelaySettings::SwitchZone(int zone) {
    if (!HasZone(zone)) return false;
    activeZone_ = zone;
    return true;
}

uint8_t RelaySettings::AnswerCode() const {
    return config_.layout == SettingLayout::Coded ? vorlan::Code(vorlan::Answer::SettingsCoded)
                                                 : vorlan::Code(vorlan::Answer::SettingsFloat);
}

std::vector<uint8_t> RelaySettings::AnswerData(int z) const {
    std::vector<uint8_t> data;
    if (!HasZone(z)) return data;
    const ZoneSettings& zone = zones_[static_cast<size_t>(z)];
    data.push_back(0x00);
    data.push_back(static_cast<uint8_t>(config_.type));
    data.push_back(static_cast<uint8_t>(z));
    if (config_.layout == SettingLayout::Coded) {
        for (const CodedSetting& s : zone.coded) {
            const float v = static_cast<float>(s.digits) / static_cast<float>(Pow10(s.decimals));
            uint8_t value[2];
            if (s.bytes == 1) {
                vorlan::EncodeSettingBcdByte(v, s.decimals, value[0]);
            } else {
                vorlan::EncodeSettingBcd(v, s.decimals, value);
            }
            data.push_back(s.code);
            data.push_back(static_cast<uint8_t>((s.enabled ? 0 : kDisabled) | (s.bytes << 3) | kKindValue));
            data.insert(data.end(), value, value + s.bytes);
        }
    } else {
        data.push_back(static_cast<uint8_t>(zone.values.size()));
        data.push_back(static_cast<uint8_t>(zone.bytes.size()));
        for (float v : zone.values) {
            uint8_t b[4];
            vorlan::PutFloat(v, b);
            data.insert(data.end(), b, b + 4);
        }
        data.insert(data.end(), zone.bytes.begin(), zone.bytes.end());
    }
    return data;
}

bool RelaySettings::ApplyWrite(vorlan::ByteView data) {
    // 00, zone, then the table in the layout of the last answer.
    if (data.size() < 2) return false;
    const int z = data.at(1);
    if (!HasZone(z)) return false;
    const bool ok = config_.layout == SettingLayout::Coded ? ApplyCoded(z, data.Sub(2, data.size()))
                                                           : ApplyFloat(z, data.Sub(2, data.size()));
    if (ok) ++writesStored_;
    return ok;
}

bool RelaySettings::ApplyCoded(int z, vorlan::ByteView entries) {
    ZoneSettings next = zones_[static_cast<size_t>(z)];
    std::vector<bool> seen(next.coded.size(), false);
    size_t pos = 0;
    while (pos < entries.size()) {
        if (!entries.Has(pos, 2)) return false;
        const uint8_t code = entries.at(pos);
        const uint8_t descriptor = entries.at(pos + 1);
        const size_t length = (descriptor >> 3) & 0x0F;
        if ((descriptor & 0x07) != kKindValue) return false;
        if (!entries.Has(pos + 2, length)) return false;
        size_t slot = 0;
        while (slot < next.coded.size() && next.coded[slot].code != code) ++slot;
        if (slot == next.coded.size() || seen[slot]) return false;
        CodedSetting& s = next.coded[slot];
        if (length != s.bytes) return false;  // each setting keeps the size it is sent in
        uint8_t decimals = 0;
        const float value = vorlan::DecodeSettingBcd(entries.data() + pos + 2, length, decimals);
        if (decimals != s.decimals) return false;
        const double digits = std::round(static_cast<double>(value) * Pow10(decimals));
        if (std::fabs(digits) > MaxDigits(s.bytes)) return false;
        s.digits = static_cast<int32_t>(digits);
        s.enabled = (descriptor & kDisabled) == 0;
        seen[slot] = true;
        pos += 2 + length;
    }
    for (bool b : seen) {
        if (!b) return false;
    }
    zones_[static_cast<size_t>(z)] = next;
    return true;
}

bool RelaySettings::ApplyFloat(int z, vorlan::ByteView rest) {
    ZoneSettings& zone = zones_[static_cast<size_t>(z)];
    if (rest.size() < 2) return false;
    const size_t f = rest.at(0);
    const size_t b = rest.at(1);
    if (f != zone.values.size() || b != zone.bytes.size()) return false;
    if (rest.size() != 2 + 4 * f + b) return false;
    std::vector<float> values(f);
    for (size_t i = 0; i < f; ++i) {
        values[i] = vorlan::GetFloat(rest.data() + 2 + 4 * i);
        if (!std::isfinite(values[i])) return false;
    }
    zone.values = values;
    zone.bytes.assign(rest.data() + 2 + 4 * f, rest.data() + 2 + 4 * f + b);
    return true;
}

}  // namespace vorlan_sim
