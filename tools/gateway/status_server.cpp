#include "status_server.h"

#include <httplib.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "log.h"

namespace vorlan_gateway {

namespace {

using Json = nlohmann::json;

std::string Escape(const std::string& text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += ch;
        }
    }
    return out;
}

std::string Text(const Json& j) {
    if (j.is_null()) return "-";
    if (j.is_string()) return Escape(j.get<std::string>());
    return Escape(j.dump(-1, ' ', false, Json::error_handler_t::replace));
}

const char kStyle[] =
    "body{font-family:sans-serif;margin:1em}table{border-collapse:collapse;margin:.3em 0 1em}"
    "td,th{border:1px solid #bbb;padding:2px 6px;text-align:left}th{background:#eee}"
    ".ok,.open,.done{color:#060}.stale,.no-answer,.bad,.refused,.failed,.timeout,.line_down{color:#b00}"
    ".state{font-weight:bold}";

void Values(std::ostringstream& out, const Json& values) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        const int quality = it.value().value("quality", 0);
        out << "<span class=\"" << (quality == 0xC0 ? "ok" : "bad") << "\">" << Escape(it.key()) << "="
            << Text(it.value()["value"]) << " (q " << quality << ")</span> ";
    }
}

void Lines(std::ostringstream& out, const Json& lines) {
    for (const Json& line : lines) {
        const std::string state = line.value("state", "");
        out << "<h2>Line " << Text(line["port"]) << ": <span class=\"state " << Escape(state) << "\" id=\"line-"
            << Text(line["port"]) << "\">" << Escape(state) << "</span></h2>\n<table><tr><th>unit</th><th>relay</th>"
            << "<th>state</th><th>answered</th><th>failed</th><th>failures in a row</th><th>last answer</th>"
            << "<th>values (quality)</th></tr>\n";
        for (const Json& r : line["relays"]) {
            const std::string rs = r.value("state", "");
            out << "<tr id=\"relay-" << Text(r["unit"]) << "\"><td>" << Text(r["unit"]) << "</td><td>"
                << Text(r["address"]) << " " << Text(r["name"]) << "</td><td class=\"state " << Escape(rs) << "\">"
                << Escape(rs) << "</td><td>" << Text(r["answered"]) << "</td><td>" << Text(r["failed"]) << "</td><td>"
                << Text(r["consecutive_failures"]) << "</td><td>" << Text(r["last_answer"]) << "</td><td>";
            Values(out, r["values"]);
            out << "</td></tr>\n";
        }
        out << "</table>\n";
    }
}

void Clients(std::ostringstream& out, const Json& modbus) {
    out << "<h2>Modbus clients</h2>\n";
    if (!modbus.value("enabled", false)) {
        out << "<p>Modbus is off.</p>\n";
        return;
    }
    out << "<p>" << modbus["clients"].size() << " connected, " << Text(modbus["refused_clients"])
        << " turned away since the start.</p>\n<table><tr><th>client</th><th>since</th><th>requests</th>"
        << "<th>waiting for a control</th></tr>\n";
    for (const Json& c : modbus["clients"]) {
        out << "<tr><td>" << Text(c["peer"]) << "</td><td>" << Text(c["since"]) << "</td><td>" << Text(c["requests"])
            << "</td><td>" << (c.value("waiting_for_control", false) ? "yes" : "no") << "</td></tr>\n";
    }
    out << "</table>\n";
}

void Mqtt(std::ostringstream& out, const Json& mqtt) {
    out << "<h2>MQTT</h2>\n";
    if (mqtt.is_null()) {
        out << "<p>MQTT is off.</p>\n";
        return;
    }
    const bool up = mqtt.value("connected", false);
    out << "<p id=\"mqtt\">Broker " << Text(mqtt["broker"]) << ": <span class=\"state " << (up ? "ok" : "bad")
        << "\">" << (up ? "connected" : "not connected") << "</span>";
    if (!mqtt["last_error"].is_null() && !mqtt["last_error"].get<std::string>().empty()) {
        out << " (last fault: " << Text(mqtt["last_error"]) << ")";
    }
    out << "; events queued " << Text(mqtt["queued_events"]) << ", dropped " << Text(mqtt["dropped_events"])
        << ".</p>\n";
}

void Controls(std::ostringstream& out, const Json& controls) {
    out << "<h2>Last controls</h2>\n<table><tr><th>time</th><th>source</th><th>unit</th><th>point</th><th>action</th>"
        << "<th>outcome</th><th>reason</th></tr>\n";
    for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
        const Json& c = *it;
        out << "<tr><td>" << Text(c["time"]) << "</td><td>" << Text(c["source"]) << "</td><td>" << Text(c["unit"])
            << "</td><td>" << Text(c["point"]) << "</td><td>" << Text(c["action"]) << "</td><td class=\""
            << Text(c["outcome"]) << "\">" << Text(c["outcome"]) << "</td><td>" << Text(c["reason"]) << "</td></tr>\n";
    }
    out << "</table>\n";
}

}  // namespace

std::string StatusPage(const Json& status, int refreshS) {
    std::ostringstream out;
    out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"" << refreshS
        << "\"><title>vorlan-gateway " << Text(status["name"]) << "</title><style>" << kStyle
        << "</style></head><body>\n<h1>vorlan-gateway " << Text(status["name"]) << "</h1>\n<p>As of "
        << Text(status["ts"]) << "; this page reloads every " << refreshS << " s.</p>\n";
    Lines(out, status["lines"]);
    Clients(out, status["modbus"]);
    Mqtt(out, status["mqtt"]);
    Controls(out, status["controls"]);
    out << "</body></html>\n";
    return out.str();
}

StatusServer::StatusServer(const StatusConfig& config, Source source)
    : config_(config), source_(std::move(source)), server_(std::make_unique<httplib::Server>()) {}

StatusServer::~StatusServer() { Stop(); }

std::string StatusServer::Start() {
    server_->Get("/", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(StatusPage(source_(), config_.refreshS), "text/html; charset=utf-8");
    });
    server_->Get("/status.json", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(source_().dump(1, ' ', false, Json::error_handler_t::replace), "application/json");
    });
    if (!server_->bind_to_port(config_.host, config_.port)) {
        return "status page: can't listen on " + config_.host + ":" + std::to_string(config_.port) + ": " +
               std::strerror(errno);
    }
    Log(kInfo, "status page on http://" + config_.host + ":" + std::to_string(config_.port) + "/");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return {};
}

void StatusServer::Stop() {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace vorlan_gateway
