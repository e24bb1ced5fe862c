#include "sim_config.h"

#include <toml++/toml.h>

#include <cstdlib>
#include <set>
#include <sstream>

namespace vorlan_sim {

namespace {

std::string Where(const toml::node& node) {
    std::ostringstream out;
    out << "line " << node.source().begin.line;
    return out.str();
}

// Keys that a table may hold; anything else is a typo worth reporting.
std::string CheckKeys(const toml::table& table, const std::set<std::string>& known,
                      const std::string& what) {
    for (const auto& [key, value] : table) {
        if (!known.count(std::string(key.str()))) {
            return Where(value) + ": unknown key '" + std::string(key.str()) + "' in " + what;
        }
    }
    return {};
}

template <typename T>
std::string ReadInt(const toml::table& t, const char* key, T& out) {
    const toml::node* n = t.get(key);
    if (!n) return {};
    const auto v = n->value<int64_t>();
    if (!v) return Where(*n) + ": '" + key + "' must be an integer";
    out = static_cast<T>(*v);
    if (static_cast<int64_t>(out) != *v) return Where(*n) + ": '" + key + "' is out of range";
    return {};
}

std::string ReadRate(const toml::table& t, const char* key, double& out) {
    const toml::node* n = t.get(key);
    if (!n) return {};
    const auto v = n->value<double>();
    if (!v) return Where(*n) + ": '" + key + "' must be a number";
    if (*v < 0.0 || *v > 1.0) return Where(*n) + ": '" + key + "' must lie between 0 and 1";
    out = *v;
    return {};
}

std::string ReadText(const toml::table& t, const char* key, std::string& out) {
    const toml::node* n = t.get(key);
    if (!n) return {};
    const auto v = n->value<std::string>();
    if (!v) return Where(*n) + ": '" + key + "' must be a text";
    out = *v;
    return {};
}

std::string ReadLayout(const toml::table& t, SettingLayout& out) {
    std::string text;
    if (auto e = ReadText(t, "layout", text); !e.empty()) return e;
    if (text.empty()) return {};
    if (text == "coded") out = SettingLayout::Coded;
    else if (text == "float") out = SettingLayout::Float;
    else return Where(*t.get("layout")) + ": layout must be \"coded\" or \"float\"";
    return {};
}

std::string ReadParity(const toml::table& t, int& out) {
    const toml::node* n = t.get("parity");
    if (!n) return {};
    if (auto v = n->value<std::string>()) {
        if (*v == "none") out = 0;
        else if (*v == "odd") out = 1;
        else if (*v == "even") out = 2;
        else return Where(*n) + ": parity must be none, odd or even";
        return {};
    }
    return ReadInt(t, "parity", out);
}

#define VORLAN_TRY(expr)                  \
    do {                                  \
        std::string e_ = (expr);          \
        if (!e_.empty()) return e_;       \
    } while (0)

std::string ReadRelay(const toml::table& t, size_t position, RelayConfig& r) {
    VORLAN_TRY(CheckKeys(t,
                         {"address", "type", "layout", "measurements", "status_groups", "counters",
                          "zones", "settings", "byte_settings", "recordings", "recording_samples",
                          "change_rate", "busy_rate", "silent_after"},
                         "[[relay]]"));
    int address = -1;
    VORLAN_TRY(ReadInt(t, "address", address));
    if (address < 0) return Where(t) + ": every [[relay]] needs an address";
    if (address > 32) return Where(t) + ": relay address " + std::to_string(address) + " is above 32";
    r = DefaultRelay(static_cast<uint8_t>(address), position);
    VORLAN_TRY(ReadInt(t, "type", r.type));
    VORLAN_TRY(ReadLayout(t, r.layout));
    VORLAN_TRY(ReadInt(t, "measurements", r.measurements));
    VORLAN_TRY(ReadInt(t, "status_groups", r.statusGroups));
    VORLAN_TRY(ReadInt(t, "counters", r.counters));
    VORLAN_TRY(ReadInt(t, "zones", r.zones));
    VORLAN_TRY(ReadInt(t, "settings", r.settings));
    VORLAN_TRY(ReadInt(t, "byte_settings", r.byteSettings));
    VORLAN_TRY(ReadInt(t, "recordings", r.recordings));
    VORLAN_TRY(ReadInt(t, "recording_samples", r.recordingSamples));
    VORLAN_TRY(ReadRate(t, "change_rate", r.changeRate));
    VORLAN_TRY(ReadRate(t, "busy_rate", r.busyRate));
    VORLAN_TRY(ReadInt(t, "silent_after", r.silentAfter));
    return {};
}

std::string ReadTable(const toml::table& root, SimConfig& config) {
    VORLAN_TRY(CheckKeys(root, {"seed", "verbose", "line", "faults", "relay"}, "the file"));
    if (const toml::node* n = root.get("seed")) {
        const auto v = n->value<int64_t>();
        if (!v || *v < 0) return Where(*n) + ": seed must be a non-negative integer";
        config.seed = static_cast<uint64_t>(*v);
    }
    if (const toml::node* n = root.get("verbose")) {
        const auto v = n->value<bool>();
        if (!v) return Where(*n) + ": verbose must be true or false";
        config.verbose = *v;
    }
    if (const toml::node* n = root.get("line")) {
        const toml::table* t = n->as_table();
        if (!t) return Where(*n) + ": [line] must be a table";
        VORLAN_TRY(CheckKeys(*t, {"device", "link", "baud", "byte_size", "parity", "stop_bits"}, "[line]"));
        VORLAN_TRY(ReadText(*t, "device", config.line.device));
        VORLAN_TRY(ReadText(*t, "link", config.line.link));
        VORLAN_TRY(ReadInt(*t, "baud", config.line.baud));
        VORLAN_TRY(ReadInt(*t, "byte_size", config.line.byteSize));
        VORLAN_TRY(ReadParity(*t, config.line.parity));
        VORLAN_TRY(ReadInt(*t, "stop_bits", config.line.stopBits));
    }
    if (const toml::node* n = root.get("faults")) {
        const toml::table* t = n->as_table();
        if (!t) return Where(*n) + ": [faults] must be a table";
        VORLAN_TRY(CheckKeys(*t,
                             {"drop", "bad_crc", "wrong_address", "split", "stray", "garbage",
                              "delay_ms", "jitter_ms", "split_gap_ms"},
                             "[faults]"));
        FaultRates& f = config.faults;
        VORLAN_TRY(ReadRate(*t, "drop", f.drop));
        VORLAN_TRY(ReadRate(*t, "bad_crc", f.badCrc));
        VORLAN_TRY(ReadRate(*t, "wrong_address", f.wrongAddress));
        VORLAN_TRY(ReadRate(*t, "split", f.split));
        VORLAN_TRY(ReadRate(*t, "stray", f.stray));
        VORLAN_TRY(ReadRate(*t, "garbage", f.garbage));
        VORLAN_TRY(ReadInt(*t, "delay_ms", f.delayMs));
        VORLAN_TRY(ReadInt(*t, "jitter_ms", f.jitterMs));
        VORLAN_TRY(ReadInt(*t, "split_gap_ms", f.splitGapMs));
    }
    if (const toml::node* n = root.get("relay")) {
        const toml::array* a = n->as_array();
        if (!a) return Where(*n) + ": relays are written as [[relay]] tables";
        config.relays.clear();
        for (size_t i = 0; i < a->size(); ++i) {
            const toml::table* t = (*a)[i].as_table();
            if (!t) return Where((*a)[i]) + ": relays are written as [[relay]] tables";
            RelayConfig r;
            VORLAN_TRY(ReadRelay(*t, i, r));
            config.relays.push_back(r);
        }
    }
    return {};
}

}  // namespace

RelayConfig DefaultRelay(uint8_t address, size_t position) {
    // The relay types of the sample setting catalogue in db/, by turns:
    // type 21 (coded list, 10 settings of three digits and 3 of one), type 31
    // (float layout, 8 values and 4 switches), type 41 (float layout, 6
    // values and 3 switches).
    static const struct {
        int type;
        SettingLayout layout;
        int settings;
        int byteSettings;
    } kinds[] = {{21, SettingLayout::Coded, 10, 3}, {31, SettingLayout::Float, 8, 4}, {41, SettingLayout::Float, 6, 3}};
    const auto& kind = kinds[position % 3];
    RelayConfig r;
    r.address = address;
    r.type = kind.type;
    r.layout = kind.layout;
    r.settings = kind.settings;
    r.byteSettings = kind.byteSettings;
    return r;
}

std::string LoadSimConfigText(const std::string& text, SimConfig& config) {
    try {
        const toml::table root = toml::parse(text);
        return ReadTable(root, config);
    } catch (const toml::parse_error& e) {
        std::ostringstream out;
        out << "line " << e.source().begin.line << ": " << e.description();
        return out.str();
    }
}

std::string LoadSimConfigFile(const std::string& path, SimConfig& config) {
    try {
        const toml::table root = toml::parse_file(path);
        return ReadTable(root, config);
    } catch (const toml::parse_error& e) {
        std::ostringstream out;
        if (e.source().begin.line == 0) {
            out << path << ": " << e.description();
        } else {
            out << path << ": line " << e.source().begin.line << ": " << e.description();
        }
        return out.str();
    }
}

std::string ParseRelayList(const std::string& text, std::vector<RelayConfig>& relays) {
    relays.clear();
    std::stringstream all(text);
    std::string part;
    while (std::getline(all, part, ',')) {
        std::stringstream fields(part);
        std::string address, type, layout;
        std::getline(fields, address, ':');
        std::getline(fields, type, ':');
        std::getline(fields, layout, ':');
        char* end = nullptr;
        const long a = std::strtol(address.c_str(), &end, 10);
        if (address.empty() || *end != '\0' || a < 0 || a > 32) {
            return "relay address '" + address + "' must be a number from 0 to 32";
        }
        RelayConfig r = DefaultRelay(static_cast<uint8_t>(a), relays.size());
        if (!type.empty()) {
            const long t = std::strtol(type.c_str(), &end, 10);
            if (*end != '\0' || t < 0 || t > 255) return "relay type '" + type + "' must be 0..255";
            r.type = static_cast<int>(t);
        }
        if (layout == "coded") r.layout = SettingLayout::Coded;
        else if (layout == "float") r.layout = SettingLayout::Float;
        else if (!layout.empty()) return "layout '" + layout + "' must be coded or float";
        relays.push_back(r);
    }
    if (relays.empty()) return "no relay given";
    return {};
}

std::string ValidateSimConfig(const SimConfig& config) {
    auto range = [](const char* what, int v, int lo, int hi) -> std::string {
        if (v < lo || v > hi) {
            return std::string(what) + " " + std::to_string(v) + " is outside " + std::to_string(lo) +
                   ".." + std::to_string(hi);
        }
        return {};
    };
    if (config.relays.empty()) return "no relay on the line";
    if (config.relays.size() > 32) return "at most 32 relays share a line";
    std::set<int> seen;
    for (const RelayConfig& r : config.relays) {
        const std::string who = "relay " + std::to_string(r.address) + ": ";
        if (!seen.insert(r.address).second) return who + "address used twice";
        for (const std::string& e :
             {range("type", r.type, 0, 255), range("measurements", r.measurements, 1, 64),
              range("status_groups", r.statusGroups, 1, 64), range("counters", r.counters, 0, 20),
              range("zones", r.zones, 1, 16), range("settings", r.settings, 1, 60),
              range("byte_settings", r.byteSettings, 0, 16), range("recordings", r.recordings, 0, 4),
              range("recording_samples", r.recordingSamples, 1, 239),
              range("silent_after", r.silentAfter, 0, 1000000000)}) {
            if (!e.empty()) return who + e;
        }
        if (r.layout == SettingLayout::Float && 4 * r.settings + r.byteSettings + 5 > 255) {
            return who + "the float-layout answer would not fit one frame";
        }
        if (r.layout == SettingLayout::Coded && 4 * r.settings + 3 * r.byteSettings + 3 > 255) {
            return who + "the coded-list answer would not fit one frame";
        }
    }
    const LineConfig& l = config.line;
    VORLAN_TRY(range("baud", l.baud, 300, 115200));
    VORLAN_TRY(range("byte_size", l.byteSize, 5, 8));
    VORLAN_TRY(range("parity", l.parity, 0, 2));
    VORLAN_TRY(range("stop_bits", l.stopBits, 1, 2));
    if (l.paceBaud != 0) VORLAN_TRY(range("pace_baud", l.paceBaud, 300, 115200));
    const FaultRates& f = config.faults;
    VORLAN_TRY(range("delay_ms", f.delayMs, 0, 10000));
    VORLAN_TRY(range("jitter_ms", f.jitterMs, 0, 10000));
    VORLAN_TRY(range("split_gap_ms", f.splitGapMs, 0, 10000));
    return {};
}

}  // namespace vorlan_sim
