// SPDX-License-Identifier: Apache-2.0
#include "gateway.h"

#include <sys/resource.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <cmath>
#include <nlohmann/json.hpp>

#include "config_check.h"
#include "control_payload.h"
#include "log.h"
#include "opcua_server.h"
#include "register_map.h"
#include "status_server.h"

namespace vorlan_gateway {

namespace {

// A float as the shortest text that reads back as the same float, so 12.3
// goes out as 12.3 and not as its double widening.
nlohmann::json FloatJson(float f) {
    if (!std::isfinite(f)) return nullptr;   // NaN and infinities have no JSON number
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, f);
    return std::strtod(std::string(text, r.ptr).c_str(), nullptr);
}

}  // namespace

std::string RaiseFileLimit(const GatewayConfig& config) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return {};
    unsigned long target = 0;
    const unsigned long hard = limit.rlim_max == RLIM_INFINITY ? ~0ul : limit.rlim_max;
    if (std::string e = PlanFileLimit(config, limit.rlim_cur, hard, target); !e.empty()) return e;
    if (target == limit.rlim_cur) return {};
    limit.rlim_cur = target;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return "the open-file limit can't be set to " + std::to_string(target) + ": " + std::strerror(errno);
    }
    return {};
}

Gateway::Gateway(GatewayConfig config) : config_(std::move(config)) {}

Gateway::~Gateway() { Stop(); }

RelayPoints* Gateway::Unit(int unit) {
    for (auto& r : relays_) {
        if (r->unit == unit) return r.get();
    }
    return nullptr;
}

std::string Gateway::Start() {
    if (std::string e = RaiseFileLimit(config_); !e.empty()) return e;
    if (std::string e = audit_.Open(config_.auditFile); !e.empty()) return e;
    library_ = std::make_unique<vorlan_host::DriverLibrary>();
    std::string path = config_.library;
    if (path.empty()) {
        if (std::string e = vorlan_host::DriverLibrary::LookUp(config_.progid, path); !e.empty()) return e;
    }
    if (std::string e = library_->Load(path); !e.empty()) return e;
    const RelayStatsFunction stats = FindRelayStats(path);
    if (!stats) Log(kWarning, "the driver has no per-relay statistics; health counts the gateway's own packets");

    relays_ = BuildRelayPoints(config_);
    LineListener listener;
    if (config_.mqtt.enabled) {
        listener.onValue = [this](const RelayPoints& r, const PointChange& c) { OnValue(r, c); };
        listener.onEvent = [this](const RelayPoints& r, int input, int state, int64_t t) { OnEvent(r, input, state, t); };
    }
    if (config_.opcua.enabled) {
        // The OPC UA variables follow the same changes MQTT publishes.
        listener.onValue = [this, mqtt = std::move(listener.onValue)](const RelayPoints& r, const PointChange& c) {
            if (mqtt) mqtt(r, c);
            opcua_->OnValue(r, c);
        };
        listener.onEvent = [this, mqtt = std::move(listener.onEvent)](const RelayPoints& r, int input, int state, int64_t t) {
            if (mqtt) mqtt(r, input, state, t);
            opcua_->OnStatusChange(r, input, state != 0, t);
        };
    }
    for (size_t l = 0; l < config_.lines.size(); ++l) {
        std::vector<RelayPoints*> mine;
        for (auto& r : relays_) {
            if (r->line == l) mine.push_back(r.get());
        }
        lines_.push_back(std::make_unique<LineWorker>(*library_, config_.lines[l], mine, stats, config_.controlTimeoutMs,
                                                      listener));
        if (std::string e = lines_.back()->Prepare(); !e.empty()) return e;
    }
    if (config_.mqtt.enabled) {
        mqtt_ = std::make_unique<MqttLink>(config_.mqtt, [this](const std::string& t, const std::string& p, bool retained) {
            OnMqttControl(t, p, retained);
        });
        if (std::string e = mqtt_->Start(); !e.empty()) return e;
    }
    if (config_.opcua.enabled) {
        std::vector<RelayPoints*> all;
        for (auto& r : relays_) all.push_back(r.get());
        opcua_ = std::make_unique<OpcuaServer>(config_, all);
        opcua_->SetControls(
            [this](RelayPoints& r, int point, bool close, const std::string& source,
                   std::function<void(const ControlOutcome&)> done) { RunControl(r, point, close, source, std::move(done)); },
            [this](AuditEntry e) { audit_.Record(std::move(e)); });
        if (std::string e = opcua_->Start(); !e.empty()) return e;
    }
    for (auto& line : lines_) line->Start();
    if (config_.modbus.enabled) {
        std::vector<RelayPoints*> all;
        for (auto& r : relays_) all.push_back(r.get());
        modbus_ = std::make_unique<ModbusServer>(
            config_.modbus, all,
            [this](RelayPoints& r, int point, bool close, const std::string& source, ModbusServer::ControlDone done) {
                RunControl(r, point, close, source, std::move(done));
            });
        if (std::string e = modbus_->Start(); !e.empty()) return e;
    }
    if (config_.status.enabled) {
        status_ = std::make_unique<StatusServer>(config_.status, [this] { return Status(); });
        if (std::string e = status_->Start(); !e.empty()) return e;
    }
    Log(kInfo, "gateway \"" + config_.name + "\" running: " + std::to_string(lines_.size()) + " line(s), " +
                   std::to_string(relays_.size()) + " relay(s)");
    return {};
}

void Gateway::Stop() {
    if (stopped_) return;
    stopped_ = true;
    stopping_ = true;
    // No control reaches a line from here on: new ones are answered busy,
    // queued ones `stopping`, and one in progress is cancelled.
    if (modbus_) modbus_->Quiesce();
    if (opcua_) opcua_->RequestStop();
    // Every line is told at once, so stopping waits for one exchange, not one per line.
    for (auto& line : lines_) line->RequestStop();
    for (auto& line : lines_) line->Stop();
    if (modbus_) modbus_->Stop();
    if (status_) status_->Stop();
    if (opcua_) opcua_->Stop();
    if (mqtt_) mqtt_->Stop();
}

void Gateway::RunControl(RelayPoints& relay, int point, bool close, const std::string& source,
                         std::function<void(const ControlOutcome&)> done) {
    AuditEntry entry;
    entry.source = source;
    entry.unit = relay.unit;
    entry.point = "YK" + std::to_string(point);
    entry.action = close ? "close" : "open";
    auto finish = [this, entry, done = std::move(done)](const ControlOutcome& o) mutable {
        entry.time.clear();
        entry.outcome = ControlResultName(o.result);
        entry.reason = o.reason;
        audit_.Record(entry);
        done(o);
    };
    if (stopping_) {
        finish({ControlResult::Stopping, "the gateway is stopping"});
        return;
    }
    ControlOrder order;
    order.relay = relay.index;
    order.point = point;
    order.close = close;
    order.deadline = ControlClock::now() + std::chrono::milliseconds(config_.controlTimeoutMs);
    order.done = std::move(finish);
    LineOf(relay).Control(std::move(order));
}

void Gateway::OnMqttControl(const std::string& topic, const std::string& payload, bool retained) {
    // prefix/<unit>/<item>/set
    const std::string& prefix = mqtt_->prefix();
    const size_t setAt = topic.size() - 4;
    if (topic.size() < prefix.size() + 6 || topic.compare(0, prefix.size() + 1, prefix + "/") != 0 ||
        topic.compare(setAt, 4, "/set") != 0) {
        return;
    }
    const std::string resultTopic = topic.substr(0, setAt) + "/result";
    const std::string middle = topic.substr(prefix.size() + 1, setAt - prefix.size() - 1);
    const size_t slash = middle.find('/');
    const std::string unitText = middle.substr(0, slash);
    const std::string item = slash == std::string::npos ? std::string() : middle.substr(slash + 1);

    ControlPayload control;
    std::string error = ParseControlPayload(payload.data(), payload.size(), control);
    auto answer = [this, resultTopic, item](const std::string& id, const char* action, const char* result,
                                            const std::string& reason) {
        nlohmann::json j{{"item", item}, {"result", result}, {"ts", IsoUtc(NowFileTime())}};
        if (!id.empty()) j["id"] = id;
        if (action) j["action"] = action;
        if (!reason.empty()) j["reason"] = reason;
        mqtt_->PublishEvent(resultTopic, j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    };
    const char* action = error.empty() ? (control.close ? "close" : "open") : nullptr;
    int unit = 0;
    const auto parsed = std::from_chars(unitText.data(), unitText.data() + unitText.size(), unit);
    RelayPoints* relay = nullptr;
    if (parsed.ec == std::errc() && parsed.ptr == unitText.data() + unitText.size()) relay = Unit(unit);
    const int point = ControlPointOf(item);
    auto refuse = [&](const std::string& id, const std::string& reason) {
        answer(id, action, "refused", reason);
        AuditEntry e;
        e.source = "mqtt " + topic;
        e.unit = relay ? relay->unit : 0;
        e.point = item;
        e.action = action ? action : "";
        e.outcome = "refused";
        e.reason = reason;
        audit_.Record(std::move(e));
    };
    // A retained message is an old request the broker kept, never a fresh one.
    if (retained) return refuse(control.id, "a retained control message is never carried out");
    if (!error.empty()) return refuse({}, error);
    if (!relay) return refuse(control.id, "no relay with unit id " + unitText);
    if (point == 0) return refuse(control.id, "only YK points take controls");
    if (!relay->allowControl) return refuse(control.id, "controls are not allowed on this relay (allow_control)");
    if (!relay->yk[static_cast<size_t>(point - 1)]) return refuse(control.id, item + " is not among the relay's items");
    RunControl(*relay, point, control.close, "mqtt " + topic,
               [answer, id = control.id, action](const ControlOutcome& o) {
                   answer(id, action, ControlResultName(o.result), o.reason);
               });
}

void Gateway::OnValue(const RelayPoints& relay, const PointChange& change) {
    nlohmann::json j;
    j["value"] = change.isFloat ? FloatJson(static_cast<float>(change.value)) : nlohmann::json(static_cast<uint32_t>(change.value));
    j["quality"] = change.quality;
    j["ts"] = IsoUtc(change.time);
    mqtt_->PublishValue(mqtt_->prefix() + "/" + std::to_string(relay.unit) + "/" + change.item, j.dump());
}

void Gateway::OnEvent(const RelayPoints& relay, int input, int state, int64_t time) {
    const nlohmann::json j{{"item", "YX" + std::to_string(input)}, {"input", input}, {"state", state}, {"ts", IsoUtc(time)}};
    mqtt_->PublishEvent(mqtt_->prefix() + "/" + std::to_string(relay.unit) + "/events", j.dump());
}

nlohmann::json Gateway::RelayJson(const RelayPoints& r, int64_t now) {
    RelayHealth h;
    RelayState state;
    {
        std::lock_guard<std::mutex> hold(r.lock);
        h = r.health;
        state = r.state;
    }
    const uint32_t since = SecondsSinceAnswer(h, now);
    return nlohmann::json{{"address", r.address},
                          {"unit", r.unit},
                          {"state", RelayStateName(state)},
                          {"line_state", LineStateName(LineOf(r).state())},
                          {"answered", h.answered},
                          {"failed", h.failed},
                          {"timeouts", h.timeouts},
                          {"rejected", h.rejected},
                          {"requests", h.requestsSent},
                          {"consecutive_failures", h.consecutiveFailures},
                          {"retry_interval_ms", h.retryIntervalMs},
                          {"seconds_since_answer", since == UINT32_MAX ? nlohmann::json() : nlohmann::json(since)},
                          {"last_answer", h.lastAnswer > 0 ? nlohmann::json(IsoUtc(h.lastAnswer)) : nlohmann::json()},
                          {"source", h.known ? "driver" : "gateway"},
                          {"ts", IsoUtc(now)}};
}

void Gateway::PublishHealth() {
    if (!mqtt_) return;
    const int64_t now = NowFileTime();
    for (auto& r : relays_) {
        mqtt_->PublishNow(mqtt_->prefix() + "/" + std::to_string(r->unit) + "/health", RelayJson(*r, now).dump(), 0);
    }
    nlohmann::json lines = nlohmann::json::array();
    for (auto& line : lines_) lines.push_back({{"port", line->port()}, {"state", LineStateName(line->state())}});
    const nlohmann::json g{{"dropped_events", mqtt_->droppedEvents()}, {"queued_events", mqtt_->queuedEvents()},
                           {"lines", lines}, {"ts", IsoUtc(now)}};
    mqtt_->PublishNow(mqtt_->prefix() + "/gateway/health", g.dump(), 0);
}

namespace {

// The relay's configured values with their quality, as "YC1" -> {value, quality}.
nlohmann::json Values(const RelayPoints& r) {
    nlohmann::json v = nlohmann::json::object();
    std::lock_guard<std::mutex> hold(r.lock);
    for (int i = 0; i < kYcPoints; ++i) {
        if (r.yc[i]) v["YC" + std::to_string(i + 1)] = {{"value", FloatJson(r.ycValue[i])}, {"quality", r.ycQuality[i]}};
    }
    for (int i = 0; i < kYmPoints; ++i) {
        if (r.ym[i]) v["YM" + std::to_string(i + 1)] = {{"value", r.ymValue[i]}, {"quality", r.ymQuality[i]}};
    }
    for (int i = 0; i < kYxPoints; ++i) {
        if (r.yx[i]) v["YX" + std::to_string(i + 1)] = {{"value", r.yxValue[i] ? 1 : 0}, {"quality", r.yxQuality[i]}};
    }
    return v;
}

}  // namespace

nlohmann::json Gateway::Status() {
    const int64_t now = NowFileTime();
    nlohmann::json lines = nlohmann::json::array();
    for (auto& line : lines_) {
        nlohmann::json relays = nlohmann::json::array();
        for (const RelayPoints* r : line->relays()) {
            nlohmann::json j = RelayJson(*r, now);
            j["name"] = r->name;
            j["values"] = Values(*r);
            relays.push_back(std::move(j));
        }
        lines.push_back({{"port", line->port()}, {"state", LineStateName(line->state())}, {"relays", relays}});
    }
    nlohmann::json clients = nlohmann::json::array();
    if (modbus_) {
        for (const ModbusClientInfo& c : modbus_->Clients()) {
            clients.push_back({{"peer", c.peer}, {"since", IsoUtc(c.connected)}, {"requests", c.requests},
                               {"waiting_for_control", c.waiting}});
        }
    }
    nlohmann::json mqtt = nullptr;
    if (mqtt_) {
        mqtt = {{"broker", config_.mqtt.host + ":" + std::to_string(config_.mqtt.port)},
                {"connected", mqtt_->connected()}, {"last_error", mqtt_->lastError()},
                {"queued_events", mqtt_->queuedEvents()}, {"dropped_events", mqtt_->droppedEvents()}};
    }
    nlohmann::json controls = nlohmann::json::array();
    for (const AuditEntry& e : audit_.Latest()) {
        controls.push_back({{"time", e.time}, {"source", e.source}, {"unit", e.unit}, {"point", e.point},
                            {"action", e.action}, {"outcome", e.outcome}, {"reason", e.reason}});
    }
    return {{"name", config_.name},
            {"ts", IsoUtc(now)},
            {"lines", lines},
            {"modbus", {{"enabled", modbus_ != nullptr}, {"clients", clients},
                        {"refused_clients", modbus_ ? modbus_->refusedClients() : 0}}},
            {"mqtt", mqtt},
            {"controls", controls}};
}

}  // namespace vorlan_gateway
