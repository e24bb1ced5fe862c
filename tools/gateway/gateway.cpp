#include "gateway.h"

#include <charconv>
#include <cmath>
#include <future>
#include <nlohmann/json.hpp>

#include "control_payload.h"
#include "log.h"
#include "register_map.h"

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

Gateway::Gateway(GatewayConfig config) : config_(std::move(config)) {}

Gateway::~Gateway() { Stop(); }

RelayPoints* Gateway::Unit(int unit) {
    for (auto& r : relays_) {
        if (r->unit == unit) return r.get();
    }
    return nullptr;
}

std::string Gateway::Start() {
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
    for (auto& line : lines_) line->Start();
    if (config_.modbus.enabled) {
        std::vector<RelayPoints*> all;
        for (auto& r : relays_) all.push_back(r.get());
        modbus_ = std::make_unique<ModbusServer>(config_.modbus, all, [this](RelayPoints& r, int point, bool close) {
            return ControlAndWait(r, point, close);
        });
        if (std::string e = modbus_->Start(); !e.empty()) return e;
    }
    Log(kInfo, "gateway \"" + config_.name + "\" running: " + std::to_string(lines_.size()) + " line(s), " +
                   std::to_string(relays_.size()) + " relay(s)");
    return {};
}

void Gateway::Stop() {
    if (stopped_) return;
    stopped_ = true;
    if (modbus_) modbus_->Stop();
    for (auto& line : lines_) line->Stop();
    if (mqtt_) mqtt_->Stop();
}

ControlOutcome Gateway::ControlAndWait(RelayPoints& relay, int point, bool close) {
    auto promise = std::make_shared<std::promise<ControlOutcome>>();
    std::future<ControlOutcome> outcome = promise->get_future();
    ControlOrder order;
    order.relay = relay.index;
    order.point = point;
    order.close = close;
    order.done = [promise](const ControlOutcome& o) { promise->set_value(o); };
    LineOf(relay).Control(std::move(order));
    return outcome.get();
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
    if (retained) {
        answer(control.id, action, "refused", "a retained control message is never carried out");
        return;
    }
    int unit = 0;
    const auto parsed = std::from_chars(unitText.data(), unitText.data() + unitText.size(), unit);
    RelayPoints* relay = nullptr;
    if (parsed.ec == std::errc() && parsed.ptr == unitText.data() + unitText.size()) relay = Unit(unit);
    const int point = ControlPointOf(item);
    if (!error.empty()) {
        answer({}, nullptr, "refused", error);
        return;
    }
    if (!relay) {
        answer(control.id, action, "refused", "no relay with unit id " + unitText);
        return;
    }
    if (point == 0) {
        answer(control.id, action, "refused", "only YK points take controls");
        return;
    }
    if (!relay->allowControl) {
        answer(control.id, action, "refused", "controls are not allowed on this relay (allow_control)");
        return;
    }
    if (!relay->yk[static_cast<size_t>(point - 1)]) {
        answer(control.id, action, "refused", item + " is not among the relay's items");
        return;
    }
    Log(kInfo, "MQTT: control " + std::string(action) + " on unit " + unitText + " " + item +
                   (control.id.empty() ? "" : " (id " + control.id + ")"));
    ControlOrder order;
    order.relay = relay->index;
    order.point = point;
    order.close = control.close;
    order.done = [answer, id = control.id, action](const ControlOutcome& o) {
        answer(id, action, ControlResultName(o.result), o.reason);
    };
    LineOf(*relay).Control(std::move(order));
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

void Gateway::PublishHealth() {
    if (!mqtt_) return;
    const int64_t now = NowFileTime();
    for (auto& r : relays_) {
        RelayHealth h;
        {
            std::lock_guard<std::mutex> hold(r->lock);
            h = r->health;
        }
        const uint32_t since = SecondsSinceAnswer(h, now);
        nlohmann::json j{{"address", r->address},
                         {"answered", h.answered},
                         {"failed", h.failed},
                         {"timeouts", h.timeouts},
                         {"rejected", h.rejected},
                         {"requests", h.requestsSent},
                         {"consecutive_failures", h.consecutiveFailures},
                         {"seconds_since_answer", since == UINT32_MAX ? nlohmann::json() : nlohmann::json(since)},
                         {"source", h.known ? "driver" : "gateway"},
                         {"ts", IsoUtc(now)}};
        mqtt_->PublishNow(mqtt_->prefix() + "/" + std::to_string(r->unit) + "/health", j.dump(), 0);
    }
    const nlohmann::json g{{"dropped_events", mqtt_->droppedEvents()}, {"queued_events", mqtt_->queuedEvents()},
                           {"ts", IsoUtc(now)}};
    mqtt_->PublishNow(mqtt_->prefix() + "/gateway/health", g.dump(), 0);
}

}  // namespace vorlan_gateway
