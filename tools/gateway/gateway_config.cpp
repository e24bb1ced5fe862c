// SPDX-License-Identifier: Apache-2.0
#include "gateway_config.h"

#include <cctype>
#include <set>
#include <sstream>

#include "eng_units.h"
#include "opcua_access.h"
#include "station_table.h"

namespace vorlan_gateway {

namespace {

using vorlan_host::StationExtraKeys;

std::string At(const toml::node& n) { return "line " + std::to_string(n.source().begin.line) + ": "; }

#define CONFIG_TRY(expr)            \
    do {                            \
        std::string e_ = (expr);    \
        if (!e_.empty()) return e_; \
    } while (0)

std::string CheckKeys(const toml::table& t, const std::set<std::string>& known, const std::string& what) {
    for (const auto& [k, v] : t) {
        if (!known.count(std::string(k.str()))) return At(v) + "unknown key '" + std::string(k.str()) + "' in " + what;
    }
    return {};
}

std::string GetInt(const toml::table& t, const char* key, int low, int high, int& out) {
    if (const toml::node* n = t.get(key)) {
        const auto v = n->value_exact<int64_t>();
        if (!v || *v < low || *v > high) {
            return At(*n) + "'" + key + "' must be an integer from " + std::to_string(low) + " to " + std::to_string(high);
        }
        out = static_cast<int>(*v);
    }
    return {};
}

std::string GetText(const toml::table& t, const char* key, std::string& out) {
    if (const toml::node* n = t.get(key)) {
        const auto v = n->value_exact<std::string>();
        if (!v) return At(*n) + "'" + key + "' must be a text";
        out = *v;
    }
    return {};
}

std::string GetBool(const toml::table& t, const char* key, bool& out) {
    if (const toml::node* n = t.get(key)) {
        const auto v = n->value_exact<bool>();
        if (!v) return At(*n) + "'" + key + "' must be true or false";
        out = *v;
    }
    return {};
}

const toml::table* Section(const toml::table& root, const char* key, std::string& error) {
    const toml::node* n = root.get(key);
    if (!n) return nullptr;
    if (!n->as_table()) error = At(*n) + "'" + key + "' must be a table ([" + key + "])";
    return n->as_table();
}

std::string ReadGateway(const toml::table& root, GatewayConfig& c) {
    std::string e;
    if (const toml::table* g = Section(root, "gateway", e)) {
        CONFIG_TRY(CheckKeys(*g, {"control_timeout_ms", "log_level", "audit_file"}, "[gateway]"));
        CONFIG_TRY(GetText(*g, "audit_file", c.auditFile));
        CONFIG_TRY(GetInt(*g, "control_timeout_ms", 500, 600000, c.controlTimeoutMs));
        if (const toml::node* n = g->get("log_level")) {
            static const char* names[] = {"error", "warning", "info", "debug"};
            const auto v = n->value_exact<std::string>();
            int level = -1;
            for (int i = 0; v && i < 4; ++i) {
                if (*v == names[i]) level = i;
            }
            if (level < 0) return At(*n) + "'log_level' must be error, warning, info or debug";
            c.logLevel = level;
        }
    }
    return e;
}

std::string ReadModbus(const toml::table& root, ModbusConfig& m) {
    std::string e;
    const toml::table* t = Section(root, "modbus", e);
    if (!t) return e;
    CONFIG_TRY(CheckKeys(*t, {"enabled", "listen", "port", "word_order", "max_clients", "idle_timeout_s"}, "[modbus]"));
    CONFIG_TRY(GetBool(*t, "enabled", m.enabled));
    CONFIG_TRY(GetText(*t, "listen", m.listen));
    if (m.listen.empty()) return At(*t) + "'listen' must name an address";
    CONFIG_TRY(GetInt(*t, "port", 1, 65535, m.port));
    CONFIG_TRY(GetInt(*t, "max_clients", 1, 1000, m.maxClients));
    CONFIG_TRY(GetInt(*t, "idle_timeout_s", 1, 86400, m.idleTimeoutS));
    if (const toml::node* n = t->get("word_order")) {
        const auto v = n->value_exact<std::string>();
        if (!v || (*v != "big" && *v != "little")) return At(*n) + "'word_order' must be \"big\" or \"little\"";
        m.wordsLittle = *v == "little";
    }
    return {};
}

std::string ReadMqtt(const toml::table& root, MqttConfig& m) {
    std::string e;
    const toml::table* t = Section(root, "mqtt", e);
    if (!t) return e;
    CONFIG_TRY(CheckKeys(*t, {"host", "port", "client_id", "username", "password", "ca_file", "cert_file", "key_file",
                              "keepalive_s", "health_interval_s", "event_queue", "topic_station"},
                         "[mqtt]"));
    CONFIG_TRY(GetText(*t, "host", m.host));
    CONFIG_TRY(GetInt(*t, "port", 1, 65535, m.port));
    CONFIG_TRY(GetText(*t, "client_id", m.clientId));
    CONFIG_TRY(GetText(*t, "username", m.username));
    CONFIG_TRY(GetText(*t, "password", m.password));
    CONFIG_TRY(GetText(*t, "ca_file", m.caFile));
    CONFIG_TRY(GetText(*t, "cert_file", m.certFile));
    CONFIG_TRY(GetText(*t, "key_file", m.keyFile));
    CONFIG_TRY(GetInt(*t, "keepalive_s", 5, 3600, m.keepaliveS));
    CONFIG_TRY(GetInt(*t, "health_interval_s", 1, 3600, m.healthIntervalS));
    CONFIG_TRY(GetInt(*t, "event_queue", 1, 1000000, m.eventQueue));
    CONFIG_TRY(GetText(*t, "topic_station", m.topicStation));
    if (m.certFile.empty() != m.keyFile.empty()) return At(*t) + "'cert_file' and 'key_file' go together";
    if (!m.certFile.empty() && m.caFile.empty()) return At(*t) + "a client certificate needs 'ca_file' for TLS";
    if (!m.password.empty() && m.username.empty()) return At(*t) + "'password' needs 'username'";
    m.enabled = !m.host.empty();
    return {};
}

std::string ReadStatus(const toml::table& root, StatusConfig& s) {
    std::string e;
    const toml::table* t = Section(root, "status", e);
    if (!t) return e;
    CONFIG_TRY(CheckKeys(*t, {"listen", "refresh_s"}, "[status]"));
    s.enabled = true;
    if (const toml::node* n = t->get("listen")) {
        const auto v = n->value_exact<std::string>();
        if (!v) return At(*n) + "'listen' must be a text such as \"127.0.0.1:8080\"";
        if (std::string why = SplitHostPort(*v, s.host, s.port); !why.empty()) return At(*n) + why;
    }
    CONFIG_TRY(GetInt(*t, "refresh_s", 1, 3600, s.refreshS));
    return {};
}

std::string ReadOpcuaAccess(const toml::table& t, OpcuaConfig& o);

std::string ReadOpcua(const toml::table& root, const std::string& name, OpcuaConfig& o) {
    std::string e;
    const toml::table* t = Section(root, "opcua", e);
    if (!t) return e;
    CONFIG_TRY(CheckKeys(*t, {"enabled", "listen", "port", "application_uri", "security", "certificate", "key", "user",
                              "anonymous", "trusted_clients", "trust_all_clients", "max_sessions",
                              "max_subscriptions", "select_timeout_s"},
                         "[opcua]"));
    o.enabled = true;
    CONFIG_TRY(GetBool(*t, "enabled", o.enabled));
    CONFIG_TRY(GetText(*t, "listen", o.listen));
    if (o.listen.empty()) return At(*t) + "'listen' must name an address";
    CONFIG_TRY(GetInt(*t, "port", 1, 65535, o.port));
    CONFIG_TRY(GetText(*t, "application_uri", o.applicationUri));
    if (o.applicationUri.empty()) o.applicationUri = "urn:vorlan:gateway:" + TopicSafe(name);
    if (const toml::node* n = t->get("security")) {
        const toml::array* list = n->as_array();
        if (!list || list->empty()) return At(*n) + "'security' must be a list of policies, such as [\"None\"]";
        o.security.clear();
        for (const toml::node& p : *list) {
            const auto v = p.value_exact<std::string>();
            if (!v || !OpcuaSecurityKnown(*v)) {
                return At(p) + "'security' takes \"None\" and the policies Basic256Sha256 and "
                               "Aes128_Sha256_RsaOaep as \"<policy>-Sign\" or \"<policy>-SignAndEncrypt\"";
            }
            o.security.push_back(*v);
        }
    }
    return ReadOpcuaAccess(*t, o);
}

// Who may connect to the OPC UA server and how: certificates, users, limits.
std::string ReadOpcuaAccess(const toml::table& t, OpcuaConfig& o) {
    CONFIG_TRY(GetText(t, "certificate", o.certificate));
    CONFIG_TRY(GetText(t, "key", o.key));
    bool secured = false;
    for (const std::string& s : o.security) secured = secured || s != "None";
    if (o.enabled && secured && (o.certificate.empty() || o.key.empty())) {
        return At(t) + "a secured policy in 'security' needs 'certificate' and 'key' (made at the first start when absent)";
    }
    CONFIG_TRY(GetBool(t, "anonymous", o.anonymous));
    CONFIG_TRY(GetText(t, "trusted_clients", o.trustedClients));
    CONFIG_TRY(GetBool(t, "trust_all_clients", o.trustAllClients));
    if (o.trustAllClients && !o.trustedClients.empty()) {
        return At(t) + "'trusted_clients' and 'trust_all_clients' exclude each other";
    }
    CONFIG_TRY(GetInt(t, "max_sessions", 1, 1000, o.maxSessions));
    CONFIG_TRY(GetInt(t, "max_subscriptions", 1, 10000, o.maxSubscriptions));
    CONFIG_TRY(GetInt(t, "select_timeout_s", 1, 3600, o.selectTimeoutS));
    o.users.clear();
    if (const toml::node* n = t.get("user")) {
        const toml::array* list = n->as_array();
        if (!list || !list->is_array_of_tables()) return At(*n) + "users are written as [[opcua.user]]";
        for (const toml::node& e : *list) {
            const toml::table& u = *e.as_table();
            CONFIG_TRY(CheckKeys(u, {"name", "password_hash", "may_operate"}, "[[opcua.user]]"));
            OpcuaUser user;
            CONFIG_TRY(GetText(u, "name", user.name));
            CONFIG_TRY(GetText(u, "password_hash", user.passwordHash));
            CONFIG_TRY(GetBool(u, "may_operate", user.mayOperate));
            if (user.name.empty() || user.name.size() > 64) return At(u) + "'name' must be a text of 1 to 64 characters";
            for (const OpcuaUser& other : o.users) {
                if (other.name == user.name) return At(u) + "the user '" + user.name + "' is given twice";
            }
            if (!OpcuaPasswordHashValid(user.passwordHash)) {
                return At(u) + "'password_hash' must be a SHA-512 crypt hash (\"$6$...\", as mkpasswd -m sha-512 "
                               "or openssl passwd -6 make it)";
            }
            o.users.push_back(std::move(user));
        }
    }
    if (!o.enabled) return {};
    if (!o.anonymous && o.users.empty()) {
        return At(t) + "nobody can log in to the OPC UA server: add [[opcua.user]] entries or set anonymous = true";
    }
    if (!o.users.empty() && !secured) {
        return At(t) + "users need a secured policy in 'security': their passwords would travel in clear";
    }
    return {};
}

// A relay's `units = { YC1 = "A" }`: only measurements among its items, only known units.
std::string ReadUnits(const toml::table& t, const vorlan_host::RelaySpec& relay, std::map<int, std::string>& out) {
    const toml::node* n = t.get("units");
    if (!n) return {};
    const toml::table* units = n->as_table();
    if (!units) return At(*n) + "'units' must be a table such as { YC1 = \"A\" }";
    for (const auto& [key, value] : *units) {
        std::string item(key.str());
        for (char& ch : item) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        bool listed = false;
        for (const vorlan_host::ItemSpec& i : relay.items) {
            std::string listedText = i.text;
            for (char& ch : listedText) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            listed = listed || listedText == item;
        }
        const bool digits = item.size() > 2 && item.size() <= 4 && item.find_first_not_of("0123456789", 2) == std::string::npos;
        const int point = item.compare(0, 2, "YC") == 0 && digits ? std::stoi(item.substr(2)) : 0;
        if (point < 1 || !listed) {
            return At(value) + "'units' names " + std::string(key.str()) +
                   ", which is not a measurement (YCn) among the relay's items";
        }
        const auto text = value.value_exact<std::string>();
        if (!text) return At(value) + "the unit of " + item + " must be a text";
        if (!FindEngUnit(*text)) {
            return At(value) + "unknown unit \"" + *text + "\" for " + item + "; known: " + EngUnitList();
        }
        out[point] = *text;
    }
    return {};
}

// One line: the host's station reader, then the gateway's own keys.
std::string ReadLine(const toml::table& t, LineConfig& line, const std::set<std::string>& skipped) {
    StationExtraKeys extra;
    extra.station = {"unit_base", "read_interval_ms"};
    extra.station.insert(skipped.begin(), skipped.end());
    extra.relay = {"allow_control", "units"};
    extra.what = skipped.empty() ? "[[line]]" : "the configuration file";
    line.fileLine = static_cast<int>(t.source().begin.line);
    CONFIG_TRY(vorlan_host::ReadStationTable(t, line.station, extra));
    CONFIG_TRY(GetInt(t, "unit_base", 0, 246, line.unitBase));
    CONFIG_TRY(GetInt(t, "read_interval_ms", 0, 60000, line.readIntervalMs));
    const toml::array* relays = t.get("relay")->as_array();
    size_t r = 0;
    for (const toml::node& n : *relays) {
        bool allow = false;
        CONFIG_TRY(GetBool(*n.as_table(), "allow_control", allow));
        line.allowControl.push_back(allow);
        line.units.emplace_back();
        CONFIG_TRY(ReadUnits(*n.as_table(), line.station.relays.at(r++), line.units.back()));
    }
    return {};
}

std::string ReadConfig(const toml::table& root, GatewayConfig& c) {
    CONFIG_TRY(CheckKeys(root, {"name", "driver", "gateway", "modbus", "mqtt", "status", "opcua", "line", "channel", "relay",
                                "unit_base", "read_interval_ms"},
                         "the configuration file"));
    CONFIG_TRY(GetText(root, "name", c.name));
    if (c.name.empty()) c.name = "station";
    if (const toml::node* n = root.get("driver")) {
        const toml::table* t = n->as_table();
        if (!t) return At(*n) + "[driver] must be a table";
        CONFIG_TRY(CheckKeys(*t, {"progid", "library"}, "[driver]"));
        CONFIG_TRY(GetText(*t, "progid", c.progid));
        CONFIG_TRY(GetText(*t, "library", c.library));
    }
    CONFIG_TRY(ReadGateway(root, c));
    CONFIG_TRY(ReadModbus(root, c.modbus));
    CONFIG_TRY(ReadMqtt(root, c.mqtt));
    CONFIG_TRY(ReadStatus(root, c.status));
    CONFIG_TRY(ReadOpcua(root, c.name, c.opcua));
    if (c.mqtt.topicStation.empty()) c.mqtt.topicStation = c.name;
    c.mqtt.topicStation = TopicSafe(c.mqtt.topicStation);

    if (const toml::node* ln = root.get("line")) {
        if (root.get("channel") || root.get("relay")) {
            return At(*ln) + "write the lines either as [[line]] entries or as one [channel] with its [[relay]]s, not both";
        }
        const toml::array* lines = ln->as_array();
        if (!lines || lines->empty()) return At(*ln) + "lines are written as [[line]] tables";
        for (const toml::node& n : *lines) {
            const toml::table* t = n.as_table();
            if (!t) return At(n) + "lines are written as [[line]] tables";
            if (const toml::node* d = t->get("driver")) return At(*d) + "[driver] belongs at the top, for all lines";
            if (const toml::node* nm = t->get("name"); nm && !nm->is_string()) return At(*nm) + "'name' must be a text";
            LineConfig line;
            CONFIG_TRY(ReadLine(*t, line, {}));
            c.lines.push_back(std::move(line));
        }
    } else {
        if (!root.get("channel")) return "the configuration file needs [[line]] entries (or one [channel] with [[relay]]s)";
        LineConfig line;
        CONFIG_TRY(ReadLine(root, line, {"gateway", "modbus", "mqtt", "status", "opcua"}));
        c.lines.push_back(std::move(line));
    }

    // Unit ids name the relays over Modbus and in the topics: one per relay, 1..247.
    std::set<int> units;
    std::set<std::string> ports;
    for (size_t i = 0; i < c.lines.size(); ++i) {
        const LineConfig& line = c.lines[i];
        const std::string where = "line " + std::to_string(line.fileLine) + ": ";
        if (!ports.insert(line.station.channel.port).second) {
            return where + "the port " + line.station.channel.port + " is given to two lines";
        }
        for (const vorlan_host::RelaySpec& r : line.station.relays) {
            const int unit = line.unitBase + r.address;
            const std::string at = "line " + std::to_string(r.line) + ": ";
            if (unit < 1 || unit > 247) {
                return at + "relay address " + std::to_string(r.address) + " with unit_base " +
                       std::to_string(line.unitBase) + " gives Modbus unit id " + std::to_string(unit) +
                       ", outside 1..247; set 'unit_base' on its line";
            }
            if (!units.insert(unit).second) {
                return at + "Modbus unit id " + std::to_string(unit) +
                       " is used twice; give the lines different 'unit_base' values";
            }
        }
    }
    return {};
}

}  // namespace

std::string SplitHostPort(const std::string& text, std::string& host, int& port) {
    const std::string form = "'listen' must be host:port, or [IPv6 address]:port";
    size_t colon = std::string::npos;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return form;
        host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.find(':');
        if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) return form;
        host = text.substr(0, colon);
    }
    const std::string digits = text.substr(colon + 1);
    if (host.empty() || digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return form;
    }
    port = std::stoi(digits);
    if (port < 1 || port > 65535) return "the port in 'listen' must be 1 to 65535";
    return {};
}

std::string TopicSafe(const std::string& name) {
    std::string out;
    for (char ch : name) {
        const unsigned char u = static_cast<unsigned char>(ch);
        out += (ch == '/' || ch == '+' || ch == '#' || u <= 0x20 || u == 0x7F) ? '_' : ch;
    }
    return out.empty() ? "_" : out;
}

std::string LoadGatewayConfigText(const std::string& text, GatewayConfig& config) {
    config = GatewayConfig{};
    try {
        return ReadConfig(toml::parse(text), config);
    } catch (const toml::parse_error& e) {
        std::ostringstream out;
        out << "line " << e.source().begin.line << ": " << e.description();
        return out.str();
    }
}

std::string LoadGatewayConfig(const std::string& path, GatewayConfig& config) {
    config = GatewayConfig{};
    config.path = path;
    try {
        const std::string e = ReadConfig(toml::parse_file(path), config);
        return e.empty() ? e : path + ": " + e;
    } catch (const toml::parse_error& e) {
        std::ostringstream out;
        out << path << ": ";
        if (e.source().begin.line > 0) out << "line " << e.source().begin.line << ": ";
        out << e.description();
        return out.str();
    }
}

}  // namespace vorlan_gateway
