// SPDX-License-Identifier: Apache-2.0
#include "station_file.h"

#include "vorlan/driver.h"

#include "station_table.h"

#include <cctype>
#include <set>
#include <sstream>

namespace vorlan_host {

namespace {

constexpr long kMaxItemsPerRange = 20000;

std::string At(const toml::node& n) { return "line " + std::to_string(n.source().begin.line) + ": "; }

std::string CheckKeys(const toml::table& t, const std::set<std::string>& known, const std::string& what) {
    for (const auto& [k, v] : t) {
        if (!known.count(std::string(k.str()))) return At(v) + "unknown key '" + std::string(k.str()) + "' in " + what;
    }
    return {};
}

std::string GetInt(const toml::table& t, const char* key, int& out) {
    if (const toml::node* n = t.get(key)) {
        // A whole float (9600.0) is taken, but the TOML library casts without
        // a range check: one beyond the int range is refused before that.
        if (const auto f = n->value_exact<double>(); f && !(*f >= INT32_MIN && *f <= INT32_MAX)) {
            return At(*n) + "'" + key + "' must be an integer";
        }
        const auto v = n->value<int64_t>();
        if (!v || *v < INT32_MIN || *v > INT32_MAX) return At(*n) + "'" + key + "' must be an integer";
        out = static_cast<int>(*v);
    }
    return {};
}

std::string GetText(const toml::table& t, const char* key, std::string& out) {
    if (const toml::node* n = t.get(key)) {
        const auto v = n->value<std::string>();
        if (!v) return At(*n) + "'" + key + "' must be a text";
        out = *v;
    }
    return {};
}

#define STATION_TRY(expr)           \
    do {                            \
        std::string e_ = (expr);    \
        if (!e_.empty()) return e_; \
    } while (0)

std::string ReadItems(const toml::array& items, RelaySpec& relay) {
    for (const toml::node& n : items) {
        std::string text;
        int16_t type = 0;
        if (auto s = n.value<std::string>()) {
            text = *s;
        } else if (const toml::table* t = n.as_table()) {
            STATION_TRY(CheckKeys(*t, {"text", "type"}, "an item"));
            STATION_TRY(GetText(*t, "text", text));
            if (const toml::node* tn = t->get("type")) {
                int code = -1;
                if (auto name = tn->value<std::string>()) code = DataTypeByName(*name);
                else if (auto num = tn->value<int64_t>()) code = (*num >= 0 && *num <= 32767) ? static_cast<int>(*num) : -1;
                if (code < 0) return At(*tn) + "item type must be bool, byte, long, float, text or a number";
                type = static_cast<int16_t>(code);
            }
        } else {
            return At(n) + "an item is a register text (\"YC1-YC16\") or { text = ..., type = ... }";
        }
        if (text.empty()) return At(n) + "an item needs a register text";
        std::vector<std::string> texts;
        if (std::string e = ExpandItemRange(text, texts); !e.empty()) return At(n) + e;
        for (const std::string& one : texts) {
            relay.items.push_back(ItemSpec{one, type ? type : DefaultDataType(one),
                                           static_cast<int>(n.source().begin.line)});
        }
    }
    return {};
}

int ParityByName(const std::string& name) {
    static const char* names[] = {"none", "odd", "even", "mark", "space"};
    for (int i = 0; i < 5; ++i) {
        if (name == names[i]) return i;
    }
    return -1;
}

std::string ReadStation(const toml::table& root, Station& s, const StationExtraKeys& extra = {}) {
    std::set<std::string> rootKeys{"name", "driver", "channel", "relay"};
    rootKeys.insert(extra.station.begin(), extra.station.end());
    std::set<std::string> relayKeys{"address", "name", "items"};
    relayKeys.insert(extra.relay.begin(), extra.relay.end());
    STATION_TRY(CheckKeys(root, rootKeys, extra.what.empty() ? "the station file" : extra.what));
    STATION_TRY(GetText(root, "name", s.name));
    if (const toml::node* n = root.get("driver")) {
        const toml::table* t = n->as_table();
        if (!t) return At(*n) + "[driver] must be a table";
        STATION_TRY(CheckKeys(*t, {"progid", "library"}, "[driver]"));
        STATION_TRY(GetText(*t, "progid", s.progid));
        STATION_TRY(GetText(*t, "library", s.library));
    }
    const toml::node* cn = root.get("channel");
    if (!cn || !cn->as_table()) return "the station file needs a [channel] table with the port";
    const toml::table& c = *cn->as_table();
    STATION_TRY(CheckKeys(c, {"port", "baud", "byte_size", "parity", "stop_bits", "reply_timeout_ms"}, "[channel]"));
    STATION_TRY(GetText(c, "port", s.channel.port));
    if (s.channel.port.empty()) return At(c) + "[channel] needs a port";
    STATION_TRY(GetInt(c, "baud", s.channel.baud));
    if (s.channel.baud < VORLAN_MIN_BAUD || s.channel.baud > VORLAN_MAX_BAUD) {
        return At(c) + "baud must lie between " + std::to_string(VORLAN_MIN_BAUD) + " and " +
               std::to_string(VORLAN_MAX_BAUD);
    }
    if (!IsStandardBaud(s.channel.baud)) {
        // The driver sets any rate in range, but a relay speaks only the usual ones.
        s.warnings.push_back(At(*c.get("baud")) + "baud " + std::to_string(s.channel.baud) +
                             " is not a standard rate (300, 600, 1200, 2400, 4800, 9600, 19200, 38400 or 57600); "
                             "the port is set to it as given, but a relay set to a standard rate won't be understood");
    }
    STATION_TRY(GetInt(c, "byte_size", s.channel.byteSize));
    if (s.channel.byteSize < 5 || s.channel.byteSize > 8) return At(c) + "byte_size must be 5 to 8";
    if (const toml::node* p = c.get("parity")) {
        if (auto name = p->value<std::string>()) s.channel.parity = ParityByName(*name);
        else if (auto num = p->value<int64_t>()) s.channel.parity = static_cast<int>(*num);
        if (s.channel.parity < 0 || s.channel.parity > 4) return At(*p) + "parity must be none, odd, even, mark or space";
    }
    STATION_TRY(GetInt(c, "stop_bits", s.channel.stopBits));
    if (s.channel.stopBits != 1 && s.channel.stopBits != 2) return At(c) + "stop_bits must be 1 or 2";
    STATION_TRY(GetInt(c, "reply_timeout_ms", s.channel.replyTimeoutMs));
    if (s.channel.replyTimeoutMs < 0 || s.channel.replyTimeoutMs > 32767) return At(c) + "reply_timeout_ms must be 0..32767";

    const toml::node* rn = root.get("relay");
    if (!rn || !rn->as_array() || rn->as_array()->empty()) return "the station file needs at least one [[relay]]";
    std::set<int> addresses;
    for (const toml::node& n : *rn->as_array()) {
        const toml::table* t = n.as_table();
        if (!t) return At(n) + "relays are written as [[relay]] tables";
        STATION_TRY(CheckKeys(*t, relayKeys, "[[relay]]"));
        RelaySpec r;
        r.line = static_cast<int>(n.source().begin.line);
        r.address = -1;
        STATION_TRY(GetInt(*t, "address", r.address));
        if (r.address < 0 || r.address > 32) return At(n) + "every relay needs an address from 0 to 32";
        if (!addresses.insert(r.address).second) return At(n) + "relay address " + std::to_string(r.address) + " is given twice";
        STATION_TRY(GetText(*t, "name", r.name));
        if (r.name.empty()) r.name = "relay " + std::to_string(r.address);
        if (const toml::node* items = t->get("items")) {
            if (!items->as_array()) return At(*items) + "items must be a list";
            STATION_TRY(ReadItems(*items->as_array(), r));
        }
        s.relays.push_back(r);
    }
    if (s.relays.size() > 32) return "at most 32 relays share a channel";
    return {};
}

bool SplitRegister(const std::string& text, std::string& name, long& number, bool& hasNumber) {
    size_t i = 0;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
    name = text.substr(0, i);
    hasNumber = i < text.size();
    if (!hasNumber) return true;
    for (size_t k = i; k < text.size(); ++k) {
        if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
    }
    if (text.size() - i > 9) return false;
    number = std::stol(text.substr(i));
    return true;
}

std::string TrimSpaces(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && s[a] == ' ') ++a;
    while (b > a && s[b - 1] == ' ') --b;
    return s.substr(a, b - a);
}

}  // namespace

bool IsStandardBaud(int baud) {
    for (int rate : {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600}) {
        if (baud == rate) return true;
    }
    return false;
}

std::string NoAnswerHint(const ChannelSpec& channel) {
    static const char* const kParity[] = {"no", "odd", "even", "mark", "space"};
    const char* parity = channel.parity >= 0 && channel.parity <= 4 ? kParity[channel.parity] : "unknown";
    return "nothing on " + channel.port + " answered (" + std::to_string(channel.baud) + " baud, " +
           std::to_string(channel.byteSize) + " data bits, " + parity + " parity, " +
           std::to_string(channel.stopBits) + " stop bit" + (channel.stopBits == 1 ? "" : "s") +
           "): check that the relays use the same baud rate and parity, the wiring (RS-485 A and B and "
           "ground, or RS-232 transmit and receive), and that the station file's addresses are the relays' own";
}

std::string ExpandItemRange(const std::string& text, std::vector<std::string>& out) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        out.push_back(text);
        return {};
    }
    std::string leftName, rightName;
    long from = 0, to = 0;
    bool leftNumber = false, rightNumber = false;
    const std::string left = TrimSpaces(text.substr(0, dash));
    const std::string right = TrimSpaces(text.substr(dash + 1));
    if (!SplitRegister(left, leftName, from, leftNumber) || !leftNumber || leftName.empty() ||
        !SplitRegister(right, rightName, to, rightNumber) || !rightNumber ||
        (!rightName.empty() && rightName != leftName)) {
        return "'" + text + "' is not a range like YC1-YC16";
    }
    if (to < from) return "'" + text + "' runs backwards";
    if (to - from + 1 > kMaxItemsPerRange) return "'" + text + "' names too many items";
    for (long k = from; k <= to; ++k) out.push_back(leftName + std::to_string(k));
    return {};
}

int16_t DefaultDataType(const std::string& registerText) {
    std::string name;
    for (char c : registerText) {
        if (c == ' ') {
            if (name.empty()) continue;
            break;
        }
        if (!std::isalpha(static_cast<unsigned char>(c))) break;
        name += c;
    }
    if (name == "YC") return kTypeFloat;
    if (name == "YX" || name == "BWYX" || name == "Alarm" || name == "Event") return kTypeBool;
    if (name == "YM" || name == "LBStart" || name == "LBID") return kTypeLong;
    if (name == "LBTime") return kTypeText;
    return kTypeByte;
}

int DataTypeByName(const std::string& name) {
    if (name == "bool") return kTypeBool;
    if (name == "byte") return kTypeByte;
    if (name == "long") return kTypeLong;
    if (name == "float") return kTypeFloat;
    if (name == "text") return kTypeText;
    return -1;
}

std::string ReadStationTable(const toml::table& table, Station& station, const StationExtraKeys& extra) {
    return ReadStation(table, station, extra);
}

std::string LoadStationText(const std::string& text, Station& station) {
    try {
        return ReadStation(toml::parse(text), station);
    } catch (const toml::parse_error& e) {
        std::ostringstream out;
        out << "line " << e.source().begin.line << ": " << e.description();
        return out.str();
    }
}

std::string LoadStation(const std::string& path, Station& station) {
    try {
        const std::string e = ReadStation(toml::parse_file(path), station);
        for (std::string& w : station.warnings) w = path + ": " + w;
        return e.empty() ? e : path + ": " + e;
    } catch (const toml::parse_error& e) {
        std::ostringstream out;
        out << path << ": ";
        if (e.source().begin.line > 0) out << "line " << e.source().begin.line << ": ";
        out << e.description();
        return out.str();
    }
}

}  // namespace vorlan_host
