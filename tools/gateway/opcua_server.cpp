#include "opcua_server.h"

#include <map>
#include <mutex>
#include <set>

#include "register_map.h"
#include "vorlan/driver.h"

#if VORLAN_OPCUA
#include <open62541/server.h>
#include <open62541/server_config_default.h>

#include <cstdlib>
#include <cstring>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <thread>

#include "log.h"
#include "opcua_access.h"
#include "opcua_events.h"
#endif

namespace vorlan_gateway {

namespace {

constexpr uint32_t kGood = 0;
constexpr uint32_t kBad = 0x80000000u;
constexpr uint32_t kBadWaitingForInitialData = 0x80320000u;
constexpr uint32_t kUncertainLastUsableValue = 0x40900000u;

// A name as part of a node id: '/' separates the parts, so it can't be in one.
std::string IdPart(const std::string& name) {
    std::string out = name;
    for (char& ch : out) {
        if (ch == '/') ch = '_';
    }
    return out;
}

}  // namespace

uint32_t OpcuaStatusOf(int quality) {
    switch (static_cast<int16_t>(quality)) {
    case VORLAN_QUALITY_GOOD: return kGood;
    case VORLAN_QUALITY_WAITING: return kBadWaitingForInitialData;
    case VORLAN_QUALITY_LAST_KNOWN: return kUncertainLastUsableValue;
    default: return kBad;
    }
}

std::string OpcuaRelayPath::Id() const { return IdPart(station) + "/" + IdPart(line) + "/" + IdPart(relay); }

std::vector<OpcuaRelayPath> OpcuaRelayPaths(const GatewayConfig& config, const std::vector<RelayPoints*>& relays) {
    std::vector<std::string> lineNames;
    std::set<std::string> usedLines;
    for (size_t l = 0; l < config.lines.size(); ++l) {
        const std::string& given = config.lines[l].station.name;
        // The single-channel form gives the line the station's own name.
        std::string name = given.empty() || given == config.name ? std::string() : given;
        if (name.empty() || usedLines.count(IdPart(name))) name = "line" + std::to_string(l + 1);
        usedLines.insert(IdPart(name));
        lineNames.push_back(name);
    }
    std::vector<OpcuaRelayPath> paths;
    std::set<std::string> used;
    for (const RelayPoints* r : relays) {
        OpcuaRelayPath p{config.name, lineNames.at(r->line), r->name};
        if (p.relay.empty() || used.count(p.Id())) p.relay = "relay " + std::to_string(r->address);
        used.insert(p.Id());
        paths.push_back(p);
    }
    return paths;
}

std::string OpcuaMapText(const GatewayConfig& config) {
    const auto owned = BuildRelayPoints(config);
    std::vector<RelayPoints*> relays;
    for (const auto& r : owned) relays.push_back(r.get());
    const std::vector<OpcuaRelayPath> paths = OpcuaRelayPaths(config, relays);
    std::string out = "OPC UA (namespace " + config.opcua.applicationUri + "), below Objects/Vorlan:\n";
    for (size_t i = 0; i < relays.size(); ++i) {
        const RelayPoints& r = *relays[i];
        const std::string id = "ns=1;s=Vorlan/" + paths[i].Id();
        out += "  " + id + "   unit " + std::to_string(r.unit) + "\n";
        const auto& lineUnits = config.lines.at(r.line).units;
        const std::map<int, std::string> none;
        const std::map<int, std::string>& units = r.index < lineUnits.size() ? lineUnits[r.index] : none;
        auto add = [&](const char* kind, size_t count, auto& bits, const char* type) {
            for (size_t k = 0; k < count; ++k) {
                if (!bits[k]) continue;
                out += "    " + id + "/" + kind + std::to_string(k + 1) + "   " + type;
                const auto unit = units.find(static_cast<int>(k + 1));
                if (kind[1] == 'C' && unit != units.end()) out += "   " + unit->second;
                out += "\n";
            }
        };
        add("YC", kYcPoints, r.yc, "Double");
        add("YX", kYxPoints, r.yx, "Boolean");
        add("YM", kYmPoints, r.ym, "UInt32");
        if (r.allowControl) {
            for (size_t k = 0; k < kYkPoints; ++k) {
                if (!r.yk[k]) continue;
                out += "    " + id + "/YK" + std::to_string(k + 1) +
                       "   control: methods <id>/Select, /Operate, /Cancel, /SelectAndOperate\n";
            }
        }
        for (const char* h : {"Answers   UInt32", "Failures   UInt32", "SecondsSinceAnswer   UInt32", "State   String",
                              "InBackoff   Boolean"}) {
            out += "    " + id + "/Health/" + h + "\n";
        }
    }
    return out;
}

#if VORLAN_OPCUA

static_assert(kBadWaitingForInitialData == UA_STATUSCODE_BADWAITINGFORINITIALDATA, "status code");
static_assert(kUncertainLastUsableValue == UA_STATUSCODE_UNCERTAINLASTUSABLEVALUE, "status code");
static_assert(kBad == UA_STATUSCODE_BAD, "status code");

bool OpcuaBuilt() { return true; }

namespace {

// The library's log lines go to the gateway's log.
void LogLine(void*, UA_LogLevel level, UA_LogCategory, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    const int ours = level >= UA_LOGLEVEL_ERROR ? kError : level >= UA_LOGLEVEL_WARNING ? kWarning
                   : level >= UA_LOGLEVEL_INFO ? kInfo : kDebug;
    Log(ours, std::string("opc ua: ") + text);
}

UA_Logger gLogger{LogLine, nullptr, nullptr};

UA_NodeId StringId(UA_UInt16 ns, const std::string& id) {
    return UA_NODEID_STRING_ALLOC(ns, id.c_str());
}

// The parts of one relay's object.
struct RelayNodes {
    const RelayPoints* relay = nullptr;
    std::string id;                                 // "<station>/<line>/<relay>"
    std::map<std::string, UA_NodeId> points;       // "YC3" -> its variable
    UA_NodeId answered, failed, sinceAnswer, state, inBackoff;
    std::string path;                               // "<station>/<line>/<relay>" as named
    RelayTimes times;                               // the relay's own time of its YX changes
};

}  // namespace

struct OpcuaServer::Impl {
    GatewayConfig config;
    std::vector<RelayPoints*> relays;
    UA_Server* server = nullptr;
    UA_UInt16 ns = 1;
    std::vector<RelayNodes> nodes;
    std::map<const RelayPoints*, size_t> byRelay;
    std::thread thread;
    std::atomic<bool> running{false};
    bool started = false;
    OpcuaSessions sessions;
    OpcuaControlRunner controlRunner;
    std::function<void(AuditEntry)> controlAudit;
    std::unique_ptr<OpcuaControls> controls;

    ~Impl() {
        for (RelayNodes& n : nodes) {
            for (auto& [item, id] : n.points) UA_NodeId_clear(&id);
            UA_NodeId_clear(&n.answered);
            UA_NodeId_clear(&n.failed);
            UA_NodeId_clear(&n.sinceAnswer);
            UA_NodeId_clear(&n.state);
            UA_NodeId_clear(&n.inBackoff);
        }
    }

    std::string Add(UA_StatusCode s, const std::string& what) {
        return s == UA_STATUSCODE_GOOD ? std::string() : "OPC UA: " + what + ": " + UA_StatusCode_name(s);
    }

    std::string Folder(const std::string& id, const UA_NodeId& parent, const std::string& name) {
        UA_ObjectAttributes a = UA_ObjectAttributes_default;
        a.displayName = UA_LOCALIZEDTEXT(const_cast<char*>(""), const_cast<char*>(name.c_str()));
        UA_NodeId nodeId = StringId(ns, id);
        const UA_StatusCode s = UA_Server_addObjectNode(
            server, nodeId, parent, UA_NODEID_NUMERIC(0, UA_NS0ID_ORGANIZES),
            UA_QUALIFIEDNAME(ns, const_cast<char*>(name.c_str())), UA_NODEID_NUMERIC(0, UA_NS0ID_FOLDERTYPE), a,
            nullptr, nullptr);
        UA_NodeId_clear(&nodeId);
        return Add(s, "folder " + id);
    }

    // A read-only variable of `type` holding `value` with `status`.
    std::string Variable(const std::string& id, const UA_NodeId& parent, const std::string& name,
                         const UA_DataType* type, const void* value, UA_StatusCode status, UA_DateTime source,
                         UA_NodeId& out) {
        UA_VariableAttributes a = UA_VariableAttributes_default;
        a.displayName = UA_LOCALIZEDTEXT(const_cast<char*>(""), const_cast<char*>(name.c_str()));
        a.dataType = type->typeId;
        a.valueRank = UA_VALUERANK_SCALAR;
        a.accessLevel = UA_ACCESSLEVELMASK_READ;
        a.userAccessLevel = UA_ACCESSLEVELMASK_READ;
        UA_Variant_setScalar(&a.value, const_cast<void*>(value), type);
        out = StringId(ns, id);
        UA_StatusCode s = UA_Server_addVariableNode(
            server, out, parent, UA_NODEID_NUMERIC(0, UA_NS0ID_HASCOMPONENT),
            UA_QUALIFIEDNAME(ns, const_cast<char*>(name.c_str())),
            UA_NODEID_NUMERIC(0, UA_NS0ID_BASEDATAVARIABLETYPE), a, nullptr, nullptr);
        if (s == UA_STATUSCODE_GOOD) s = Write(out, type, value, status, source);
        return Add(s, "variable " + id);
    }

    UA_StatusCode Write(const UA_NodeId& id, const UA_DataType* type, const void* value, UA_StatusCode status,
                        UA_DateTime source) {
        UA_DataValue v;
        UA_DataValue_init(&v);
        UA_Variant_setScalar(&v.value, const_cast<void*>(value), type);
        v.hasValue = true;
        v.status = status;
        v.hasStatus = status != UA_STATUSCODE_GOOD;
        if (source > 0) {
            v.sourceTimestamp = source;
            v.hasSourceTimestamp = true;
        }
        return UA_Server_writeDataValue(server, id, v);
    }

    std::string Build() {
        const std::vector<OpcuaRelayPath> paths = OpcuaRelayPaths(config, relays);
        const UA_NodeId objects = UA_NODEID_NUMERIC(0, UA_NS0ID_OBJECTSFOLDER);
        if (std::string e = Folder("Vorlan", objects, "Vorlan"); !e.empty()) return e;
        std::set<std::string> made;
        for (size_t i = 0; i < relays.size(); ++i) {
            const RelayPoints& r = *relays[i];
            // Station, line, relay: each folder once, below its parent.
            std::string id = "Vorlan", parent = "Vorlan";
            for (const std::string* name : {&paths[i].station, &paths[i].line, &paths[i].relay}) {
                id += "/" + IdPart(*name);
                if (made.insert(id).second) {
                    UA_NodeId p = StringId(ns, parent);
                    std::string e = Folder(id, p, *name);
                    UA_NodeId_clear(&p);
                    if (!e.empty()) return e;
                }
                parent = id;
            }
            RelayNodes n;
            n.relay = &r;
            n.id = id;
            n.path = paths[i].station + "/" + paths[i].line + "/" + paths[i].relay;
            std::string e = Points(n, r);
            if (e.empty()) e = Health(n, r);
            if (e.empty() && controls) e = controls->AddRelay(server, ns, n.id, *relays[i]);
            byRelay[&r] = nodes.size();
            nodes.push_back(std::move(n));
            if (!e.empty()) return e;
        }
        std::vector<std::string> relayIds;
        for (const RelayNodes& n : nodes) relayIds.push_back(n.id);
        return AddNotifiers(server, ns, relayIds);
    }

    std::string Points(RelayNodes& n, const RelayPoints& r) {
        UA_NodeId parent = StringId(ns, n.id);
        std::string e;
        std::lock_guard<std::mutex> hold(r.lock);
        for (int i = 0; e.empty() && i < kYcPoints; ++i) {
            if (!r.yc[static_cast<size_t>(i)]) continue;
            const std::string item = "YC" + std::to_string(i + 1);
            const UA_Double v = r.ycValue[i];
            e = Variable(n.id + "/" + item, parent, item, &UA_TYPES[UA_TYPES_DOUBLE], &v,
                         OpcuaStatusOf(r.ycQuality[i]), 0, n.points[item]);
            const auto& units = config.lines.at(r.line).units;
            if (e.empty() && r.index < units.size()) {
                const auto unit = units[r.index].find(i + 1);
                if (unit != units[r.index].end()) {
                    e = AddEngineeringUnits(server, ns, n.id + "/" + item, *FindEngUnit(unit->second));
                }
            }
        }
        for (int i = 0; e.empty() && i < kYxPoints; ++i) {
            if (!r.yx[static_cast<size_t>(i)]) continue;
            const std::string item = "YX" + std::to_string(i + 1);
            const UA_Boolean v = r.yxValue[static_cast<size_t>(i)];
            e = Variable(n.id + "/" + item, parent, item, &UA_TYPES[UA_TYPES_BOOLEAN], &v,
                         OpcuaStatusOf(r.yxQuality[i]), 0, n.points[item]);
        }
        for (int i = 0; e.empty() && i < kYmPoints; ++i) {
            if (!r.ym[static_cast<size_t>(i)]) continue;
            const std::string item = "YM" + std::to_string(i + 1);
            const UA_UInt32 v = r.ymValue[i];
            e = Variable(n.id + "/" + item, parent, item, &UA_TYPES[UA_TYPES_UINT32], &v,
                         OpcuaStatusOf(r.ymQuality[i]), 0, n.points[item]);
        }
        UA_NodeId_clear(&parent);
        return e;
    }

    std::string Health(RelayNodes& n, const RelayPoints&) {
        const std::string id = n.id + "/Health";
        UA_NodeId relay = StringId(ns, n.id);
        std::string e = Folder(id, relay, "Health");
        UA_NodeId_clear(&relay);
        if (!e.empty()) return e;
        UA_NodeId folder = StringId(ns, id);
        const UA_UInt32 zero = 0;
        UA_String state = UA_STRING(const_cast<char*>(RelayStateName(RelayState::NoAnswer)));
        const UA_DataType* u32 = &UA_TYPES[UA_TYPES_UINT32];
        e = Variable(id + "/Answers", folder, "Answers", u32, &zero, UA_STATUSCODE_GOOD, 0, n.answered);
        if (e.empty()) e = Variable(id + "/Failures", folder, "Failures", u32, &zero, UA_STATUSCODE_GOOD, 0, n.failed);
        if (e.empty()) {
            e = Variable(id + "/SecondsSinceAnswer", folder, "SecondsSinceAnswer", u32, &zero,
                         UA_STATUSCODE_BADWAITINGFORINITIALDATA, 0, n.sinceAnswer);
        }
        if (e.empty()) {
            e = Variable(id + "/State", folder, "State", &UA_TYPES[UA_TYPES_STRING], &state, UA_STATUSCODE_GOOD, 0,
                         n.state);
        }
        if (e.empty()) {
            const UA_Boolean no = false;
            e = Variable(id + "/InBackoff", folder, "InBackoff", &UA_TYPES[UA_TYPES_BOOLEAN], &no, UA_STATUSCODE_GOOD, 0,
                         n.inBackoff);
        }
        UA_NodeId_clear(&folder);
        return e;
    }

    // Every second, on the server's thread: the relays' health from their RelayPoints.
    static void RefreshHealth(UA_Server*, void* data) {
        Impl& self = *static_cast<Impl*>(data);
        const int64_t now = NowFileTime();
        for (RelayNodes& n : self.nodes) {
            RelayHealth h;
            RelayState s;
            {
                std::lock_guard<std::mutex> hold(n.relay->lock);
                h = n.relay->health;
                s = n.relay->state;
            }
            const UA_DataType* u32 = &UA_TYPES[UA_TYPES_UINT32];
            self.Write(n.answered, u32, &h.answered, UA_STATUSCODE_GOOD, 0);
            self.Write(n.failed, u32, &h.failed, UA_STATUSCODE_GOOD, 0);
            // Never answered: no count of seconds, and the status says why.
            const UA_UInt32 since = SecondsSinceAnswer(h, now);
            const UA_UInt32 shown = since == UINT32_MAX ? 0 : since;
            self.Write(n.sinceAnswer, u32, &shown,
                       since == UINT32_MAX ? UA_STATUSCODE_BADWAITINGFORINITIALDATA : UA_STATUSCODE_GOOD, 0);
            UA_String state = UA_STRING(const_cast<char*>(RelayStateName(s)));
            self.Write(n.state, &UA_TYPES[UA_TYPES_STRING], &state, UA_STATUSCODE_GOOD, 0);
            const UA_Boolean backoff = h.inBackoff;
            self.Write(n.inBackoff, &UA_TYPES[UA_TYPES_BOOLEAN], &backoff, UA_STATUSCODE_GOOD, 0);
        }
    }
};

OpcuaServer::OpcuaServer(const GatewayConfig& config, std::vector<RelayPoints*> relays) : impl_(new Impl) {
    impl_->config = config;
    impl_->relays = std::move(relays);
}

OpcuaServer::~OpcuaServer() { Stop(); }

std::string OpcuaServer::Start() {
    Impl& m = *impl_;
    const OpcuaConfig& c = m.config.opcua;
    UA_ServerConfig sc;
    std::memset(&sc, 0, sizeof sc);
    sc.logging = &gLogger;
    if (UA_StatusCode s = UA_ServerConfig_setBasics_withPort(&sc, static_cast<UA_UInt16>(c.port));
        s != UA_STATUSCODE_GOOD) {
        UA_ServerConfig_clean(&sc);
        return std::string("OPC UA: configuration: ") + UA_StatusCode_name(s);
    }
    // Listen where the configuration says, not on every interface.
    const bool v6 = c.listen.find(':') != std::string::npos;
    const std::string url = "opc.tcp://" + (v6 ? "[" + c.listen + "]" : c.listen) + ":" + std::to_string(c.port);
    UA_Array_delete(sc.serverUrls, sc.serverUrlsSize, &UA_TYPES[UA_TYPES_STRING]);
    sc.serverUrls = static_cast<UA_String*>(UA_Array_new(1, &UA_TYPES[UA_TYPES_STRING]));
    sc.serverUrls[0] = UA_String_fromChars(url.c_str());
    sc.serverUrlsSize = 1;
    UA_String_clear(&sc.applicationDescription.applicationUri);
    sc.applicationDescription.applicationUri = UA_String_fromChars(c.applicationUri.c_str());
    UA_LocalizedText_clear(&sc.applicationDescription.applicationName);
    sc.applicationDescription.applicationName =
        UA_LOCALIZEDTEXT_ALLOC("", ("vorlan-gateway " + m.config.name).c_str());
    if (std::string e = ConfigureOpcuaAccess(sc, m.config.opcua, m.sessions); !e.empty()) {
        UA_ServerConfig_clean(&sc);
        return e;
    }
    // Bounds on one message and one request, so a client gets the protocol's
    // "too large" or "too many operations" instead of making the server
    // buffer or build a reply of any size.
    sc.tcpMaxMsgSize = 16u << 20;
    sc.tcpMaxChunks = 512;
    sc.maxNodesPerRead = sc.maxNodesPerBrowse = sc.maxMonitoredItemsPerCall = 100000;
    sc.maxNodesPerWrite = sc.maxNodesPerRegisterNodes = sc.maxNodesPerTranslateBrowsePathsToNodeIds = 1000;
    sc.maxNodesPerMethodCall = sc.maxNodesPerNodeManagement = 100;
    if (m.controlRunner) {
        m.controls = std::make_unique<OpcuaControls>(m.sessions, m.controlRunner, m.controlAudit, c.selectTimeoutS,
                                                     m.config.controlTimeoutMs);
        m.controls->Configure(sc);
    }
    m.server = UA_Server_newWithConfig(&sc);
    if (!m.server) return "OPC UA: the server can't be created";
    m.ns = UA_Server_addNamespace(m.server, c.applicationUri.c_str());
    if (std::string e = AddStatusChangeEventType(m.server, m.ns); !e.empty()) return e;
    if (std::string e = m.Build(); !e.empty()) return e;
    if (UA_StatusCode s = UA_Server_run_startup(m.server); s != UA_STATUSCODE_GOOD) {
        return "OPC UA: can't listen on " + url + ": " + UA_StatusCode_name(s);
    }
    m.started = true;
    UA_Server_addRepeatedCallback(m.server, &Impl::RefreshHealth, &m, 1000, nullptr);
    if (m.controls) m.controls->Start(m.server);
    m.running = true;
    m.thread = std::thread([&m] {
        while (m.running) UA_Server_run_iterate(m.server, true);
    });
    Log(kInfo, "OPC UA server on " + url);
    return {};
}

void OpcuaServer::SetControls(OpcuaControlRunner run, std::function<void(AuditEntry)> audit) {
    impl_->controlRunner = std::move(run);
    impl_->controlAudit = std::move(audit);
}

void OpcuaServer::RequestStop() {
    impl_->running = false;
    if (impl_->controls) impl_->controls->RequestStop();
}

void OpcuaServer::Stop() {
    Impl& m = *impl_;
    m.running = false;
    if (m.controls) m.controls->Stop();
    if (m.thread.joinable()) m.thread.join();
    if (m.server) {
        if (m.started) UA_Server_run_shutdown(m.server);
        UA_Server_delete(m.server);
        m.server = nullptr;
        m.started = false;
    }
}

void OpcuaServer::OnValue(const RelayPoints& relay, const PointChange& change) {
    Impl& m = *impl_;
    if (!m.server) return;
    const auto r = m.byRelay.find(&relay);
    if (r == m.byRelay.end()) return;
    RelayNodes& n = m.nodes[r->second];
    const auto p = n.points.find(change.item);
    if (p == n.points.end()) return;
    const UA_StatusCode status = OpcuaStatusOf(change.quality);
    const char kind = change.item[1];
    if (kind == 'C') {
        const UA_Double v = static_cast<float>(change.value);
        m.Write(p->second, &UA_TYPES[UA_TYPES_DOUBLE], &v, status, change.time);
    } else if (kind == 'X') {
        const UA_Boolean v = change.value != 0;
        const int input = std::atoi(change.item.c_str() + 2);
        m.Write(p->second, &UA_TYPES[UA_TYPES_BOOLEAN], &v, status, n.times.SourceTime(input, v, change.time));
    } else {
        const UA_UInt32 v = static_cast<UA_UInt32>(change.value);
        m.Write(p->second, &UA_TYPES[UA_TYPES_UINT32], &v, status, change.time);
    }
}

void OpcuaServer::OnStatusChange(const RelayPoints& relay, int input, bool value, int64_t relayTime) {
    Impl& m = *impl_;
    if (!m.server) return;
    const auto r = m.byRelay.find(&relay);
    if (r == m.byRelay.end()) return;
    RelayNodes& n = m.nodes[r->second];
    // The variable takes the value at the relay's time, and keeps that time
    // while later polls agree with it.
    n.times.Reported(input, value, relayTime);
    const auto p = n.points.find("YX" + std::to_string(input));
    if (p != n.points.end()) {
        const UA_Boolean v = value;
        m.Write(p->second, &UA_TYPES[UA_TYPES_BOOLEAN], &v, UA_STATUSCODE_GOOD, relayTime);
    }
    const UA_StatusCode s = RaiseStatusChange(m.server, m.ns, StatusChange{n.id, n.path, input, value, relayTime});
    if (s != UA_STATUSCODE_GOOD) {
        Log(kWarning, "OPC UA: the status change of YX" + std::to_string(input) + " of " + n.path +
                          " can't be raised as an event: " + UA_StatusCode_name(s));
    }
}

#else

bool OpcuaBuilt() { return false; }

struct OpcuaServer::Impl {};

OpcuaServer::OpcuaServer(const GatewayConfig&, std::vector<RelayPoints*>) {}
OpcuaServer::~OpcuaServer() = default;
std::string OpcuaServer::Start() {
    return "this vorlan-gateway was built without OPC UA; leave out [opcua] or rebuild with open62541 "
           "(scripts/fetch-open62541.sh)";
}
void OpcuaServer::SetControls(OpcuaControlRunner, std::function<void(AuditEntry)>) {}
void OpcuaServer::RequestStop() {}
void OpcuaServer::Stop() {}
void OpcuaServer::OnValue(const RelayPoints&, const PointChange&) {}
void OpcuaServer::OnStatusChange(const RelayPoints&, int, bool, int64_t) {}

#endif

}  // namespace vorlan_gateway
