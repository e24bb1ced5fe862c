// SPDX-License-Identifier: Apache-2.0
#include "register_map.h"

#include <cctype>
#include <cstring>
#include <sstream>

namespace vorlan_gateway {

namespace {

// "YC12" to ("YC", 12); false for texts without a number.
bool SplitItem(const std::string& text, std::string& name, int& number) {
    size_t i = 0;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
    if (i == 0 || i == text.size() || text.size() - i > 5) return false;
    name = text.substr(0, i);
    number = 0;
    for (size_t k = i; k < text.size(); ++k) {
        if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
        number = number * 10 + (text[k] - '0');
    }
    return true;
}

void PutWords(uint32_t v, bool wordsLittle, uint16_t* out) {
    const uint16_t high = static_cast<uint16_t>(v >> 16), low = static_cast<uint16_t>(v & 0xFFFF);
    out[0] = wordsLittle ? low : high;
    out[1] = wordsLittle ? high : low;
}

// The ranges of set bits, as "1-8, 12".
template <size_t N>
std::string Ranges(const std::bitset<N>& bits, const char* name, int firstAddress, int step) {
    std::ostringstream out;
    bool any = false;
    for (size_t i = 0; i < N;) {
        if (!bits[i]) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j + 1 < N && bits[j + 1]) ++j;
        out << (any ? "\n" : "") << "      " << name << (i + 1);
        if (j > i) out << "-" << name << (j + 1);
        out << "  at " << firstAddress + static_cast<int>(i) * step;
        if (j > i || step > 1) out << "-" << firstAddress + static_cast<int>(j) * step + step - 1;
        any = true;
        i = j + 1;
    }
    return any ? out.str() + "\n" : "";
}

}  // namespace

bool InMap(const RelayPoints& relay, Table table, int first, int count) {
    if (count < 1 || first < 0 || first + count > 65536) return false;
    for (int a = first; a < first + count; ++a) {
        switch (table) {
            case Table::Coils:
                if (a >= kYkPoints || !relay.yk[a]) return false;
                break;
            case Table::DiscreteInputs:
                if (a >= kYxPoints || !relay.yx[a]) return false;
                break;
            case Table::InputRegisters:
                if (a >= kYcBase && a < kYcBase + 2 * kYcPoints) {
                    if (!relay.yc[(a - kYcBase) / 2]) return false;
                } else if (a >= kYmBase && a < kYmBase + 2 * kYmPoints) {
                    if (!relay.ym[(a - kYmBase) / 2]) return false;
                } else if (a < kQualityBase || a >= kQualityBase + kQualityRegisters) {
                    return false;
                }
                break;
        }
    }
    return true;
}

bool AllGood(const RelayPoints& relay, Table table, int first, int count) {
    for (int a = first; a < first + count; ++a) {
        int16_t q = VORLAN_QUALITY_GOOD;
        if (table == Table::DiscreteInputs && a < kYxPoints) q = relay.yxQuality[a];
        if (table == Table::InputRegisters && a >= kYcBase && a < kYcBase + 2 * kYcPoints) {
            q = relay.ycQuality[(a - kYcBase) / 2];
        }
        if (table == Table::InputRegisters && a >= kYmBase && a < kYmBase + 2 * kYmPoints) {
            q = relay.ymQuality[(a - kYmBase) / 2];
        }
        if (q != VORLAN_QUALITY_GOOD) return false;
    }
    return true;
}

void FillInputRegisters(const RelayPoints& relay, int first, int count, bool wordsLittle, int64_t now100ns,
                        uint16_t* out) {
    const RelayHealth& h = relay.health;
    const uint32_t quality[kQualityRegisters / 2] = {h.answered, h.failed, SecondsSinceAnswer(h, now100ns),
                                                     h.requestsSent, h.consecutiveFailures,
                                                     h.inBackoff ? h.retryIntervalMs : 0};
    for (int a = first; a < first + count; ++a) {
        uint32_t v = 0;
        int base = 0;
        if (a >= kYcBase && a < kYcBase + 2 * kYcPoints) {
            base = kYcBase;
            std::memcpy(&v, &relay.ycValue[(a - kYcBase) / 2], sizeof v);
        } else if (a >= kYmBase && a < kYmBase + 2 * kYmPoints) {
            base = kYmBase;
            v = relay.ymValue[(a - kYmBase) / 2];
        } else {
            base = kQualityBase;
            v = quality[(a - kQualityBase) / 2];
        }
        uint16_t words[2];
        PutWords(v, wordsLittle, words);
        out[a - first] = words[(a - base) % 2];
    }
}

std::vector<std::unique_ptr<RelayPoints>> BuildRelayPoints(const GatewayConfig& config) {
    std::vector<std::unique_ptr<RelayPoints>> out;
    for (size_t l = 0; l < config.lines.size(); ++l) {
        const LineConfig& line = config.lines[l];
        for (size_t r = 0; r < line.station.relays.size(); ++r) {
            const vorlan_host::RelaySpec& configured = line.station.relays[r];
            auto p = std::make_unique<RelayPoints>();
            p->address = configured.address;
            p->unit = line.unitBase + configured.address;
            p->line = l;
            p->index = r;
            p->name = configured.name;
            p->allowControl = r < line.allowControl.size() && line.allowControl[r];
            for (const vorlan_host::ItemSpec& item : configured.items) {
                std::string name;
                int n = 0;
                if (!SplitItem(item.text, name, n) || n < 1) continue;
                if (name == "YC" && n <= kYcPoints) p->yc[n - 1] = true;
                else if (name == "YM" && n <= kYmPoints) p->ym[n - 1] = true;
                else if (name == "YX" && n <= kYxPoints) p->yx[n - 1] = true;
                else if (name == "YK" && n <= kYkPoints && p->allowControl) p->yk[n - 1] = true;
            }
            out.push_back(std::move(p));
        }
    }
    return out;
}

std::string MapText(const GatewayConfig& config) {
    std::ostringstream out;
    out << "Modbus TCP on " << config.modbus.listen << ":" << config.modbus.port << "; unit id = relay address"
        << " + the line's unit_base.\n"
        << "Two-register values: " << (config.modbus.wordsLittle ? "low word first (word_order = \"little\")"
                                                                 : "high word first (word_order = \"big\")")
        << ", each word big-endian.\n"
        << "Input registers (function 4): YCn at " << kYcBase << " + 2(n-1) as IEEE float; YMn at " << kYmBase
        << " + 2(n-1) as unsigned 32-bit;\n"
        << "  quality block, unsigned 32-bit each: " << kQualityBase << " answers taken, " << kQualityBase + 2
        << " failed exchanges (time-outs and refused answers),\n  " << kQualityBase + 4
        << " seconds since the last answer (4294967295 = never), " << kQualityBase + 6 << " requests sent, "
        << kQualityBase + 8 << " failures since the last answer,\n  " << kQualityBase + 10
        << " retry interval in ms while the driver backs the silent relay off (0 = in the rotation).\n"
        << "Discrete inputs (function 2): YXn at n-1.\n"
        << "Coils (functions 1, 5, 15 with one coil): YKn at n-1, only with allow_control; 1 closes, 0 opens;\n"
        << "  the answer comes after the relay's confirmation; a refused or unconfirmed control is an exception.\n"
        << "Addresses outside the map: exception 2 (illegal data address).\n"
        << "A read that covers any value whose quality is not good (0xC0) gets exception 11 (target device failed\n"
        << "  to respond): a value the relay has not reported yet (0x20), or its last known value once three\n"
        << "  exchanges with it failed (0x14). The quality block and the coils always answer.\n"
        << "Other function codes: exception 1 (illegal function); a unit id no relay has: exception 10.\n"
        << "A header with a protocol id other than 0 or a length outside 2..254 closes the connection.\n";
    const auto relays = BuildRelayPoints(config);
    for (const auto& r : relays) {
        out << "\nunit " << r->unit << ": relay " << r->address << " (" << r->name << ") on line "
            << config.lines[r->line].station.channel.port << "\n";
        out << "  input registers\n" << Ranges(r->yc, "YC", kYcBase, 2) << Ranges(r->ym, "YM", kYmBase, 2)
            << "      quality  at " << kQualityBase << "-" << kQualityBase + kQualityRegisters - 1 << "\n";
        const std::string yx = Ranges(r->yx, "YX", 0, 1);
        if (!yx.empty()) out << "  discrete inputs\n" << yx;
        const std::string yk = Ranges(r->yk, "YK", 0, 1);
        if (!yk.empty()) out << "  coils\n" << yk;
    }
    return out.str();
}

}  // namespace vorlan_gateway
