// SPDX-License-Identifier: Apache-2.0
#include "mqtt_link.h"

#include <mosquitto.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "log.h"

namespace vorlan_gateway {

namespace {

std::once_flag g_libraryInit;

}  // namespace

MqttLink::MqttLink(const MqttConfig& config, ControlHandler onControl)
    : config_(config), onControl_(std::move(onControl)) {
    prefix_ = "vorlan/" + config_.topicStation;
    statusTopic_ = prefix_ + "/status";
}

MqttLink::~MqttLink() { Stop(); }

std::string MqttLink::Start() {
    std::call_once(g_libraryInit, [] { mosquitto_lib_init(); });
    std::string id = config_.clientId;
    if (id.empty()) id = "vorlan-gateway-" + config_.topicStation + "-" + std::to_string(getpid());
    client_ = mosquitto_new(id.c_str(), true, this);
    if (!client_) return "MQTT: can't create the client";
    // MQTT 5, so a subscription can keep the retain flag of live messages.
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_connect_callback_set(client_, OnConnect);
    mosquitto_disconnect_callback_set(client_, OnDisconnect);
    mosquitto_message_callback_set(client_, OnMessage);
    mosquitto_log_callback_set(client_, OnLog);
    mosquitto_reconnect_delay_set(client_, 1, 60, true);
    if (!config_.username.empty()) {
        if (mosquitto_username_pw_set(client_, config_.username.c_str(),
                                      config_.password.empty() ? nullptr : config_.password.c_str()) != MOSQ_ERR_SUCCESS) {
            return "MQTT: the username or password can't be used";
        }
    }
    const std::string offline = "offline";
    if (mosquitto_will_set(client_, statusTopic_.c_str(), static_cast<int>(offline.size()), offline.data(), 1, true) !=
        MOSQ_ERR_SUCCESS) {
        return "MQTT: the last will can't be set";
    }
    // Connecting, with TLS set up first, is the flusher's: it retries with back-off.
    flusher_ = std::thread([this] { Flush(); });
    return {};
}

void MqttLink::Fault(const std::string& cause) {
    {
        // Each cause is told once a minute at most, however often the retries meet it.
        std::lock_guard<std::mutex> hold(lock_);
        lastError_ = cause;
        const auto now = std::chrono::steady_clock::now();
        if (told_.size() > 64) told_.clear();
        auto it = told_.find(cause);
        if (it != told_.end() && now - it->second < std::chrono::minutes(1)) return;
        told_[cause] = now;
    }
    Log(kWarning, "MQTT: " + cause);
}

std::string MqttLink::lastError() {
    std::lock_guard<std::mutex> hold(lock_);
    return lastError_;
}

std::string MqttLink::ProbeBroker() {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(config_.host.c_str(), std::to_string(config_.port).c_str(), &hints, &found);
    if (rc != 0) return std::string("the name can't be resolved: ") + gai_strerror(rc);
    std::string why = "no address";
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int s = socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s < 0) continue;
        int err = connect(s, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (err == EINPROGRESS) {
            pollfd p{s, POLLOUT, 0};
            socklen_t size = sizeof err;
            err = poll(&p, 1, 500) == 1 && getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &size) == 0 ? err : ETIMEDOUT;
        }
        close(s);
        why = err == 0 ? "the port takes connections, but no MQTT session comes of them (TLS or broker settings?)"
                       : std::strerror(err);
        if (err == 0) break;
    }
    freeaddrinfo(found);
    return why;
}

bool MqttLink::StartConnecting() {
    // Once a connection is under way the network thread reconnects by itself;
    // until then a refused first connection is tried again here.
    if (!tlsReady_ && !config_.caFile.empty()) {
        const int rc = mosquitto_tls_set(client_, config_.caFile.c_str(), nullptr,
                                         config_.certFile.empty() ? nullptr : config_.certFile.c_str(),
                                         config_.keyFile.empty() ? nullptr : config_.keyFile.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            Fault("TLS settings refused (ca_file " + config_.caFile + "): " + mosquitto_strerror(rc));
            return false;
        }
    }
    tlsReady_ = true;
    const int rc = mosquitto_connect_async(client_, config_.host.c_str(), config_.port, config_.keepaliveS);
    if (rc != MOSQ_ERR_SUCCESS) {
        const std::string why = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
        Fault("can't connect to " + config_.host + ":" + std::to_string(config_.port) + ": " + why);
        return false;
    }
    loopRunning_ = mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
    return loopRunning_;
}

void MqttLink::Stop() {
    if (!client_ || stop_.exchange(true)) return;
    wake_.notify_all();
    if (flusher_.joinable()) flusher_.join();
    if (connected_) {
        // A clean disconnect sends no will, so the status is set here.
        int mid = 0;
        mosquitto_publish(client_, &mid, statusTopic_.c_str(), 7, "offline", 1, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    mosquitto_disconnect(client_);
    if (!loopRunning_ || connected_) {
        // A connected network thread sees the disconnect and ends at once.
        if (loopRunning_) mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    } else {
        // It may be inside a connection attempt to a broker that never
        // answers: it is ended rather than waited for. Cancelled, it may
        // still hold the client's locks, so the client is set aside, not
        // destroyed; the process is ending.
        mosquitto_loop_stop(client_, true);
        static auto* abandoned = new std::vector<mosquitto*>;  // never destroyed: still referenced at exit
        abandoned->push_back(client_);
    }
    client_ = nullptr;
}

void MqttLink::PublishValue(const std::string& topic, const std::string& payload) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        latest_[topic] = payload;
        dirty_.insert(topic);
    }
    wake_.notify_all();
}

void MqttLink::PublishEvent(const std::string& topic, const std::string& payload) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        events_.emplace_back(topic, payload);
        while (events_.size() > static_cast<size_t>(config_.eventQueue)) {
            events_.pop_front();
            ++dropped_;
        }
    }
    wake_.notify_all();
}

void MqttLink::PublishNow(const std::string& topic, const std::string& payload, int qos) {
    if (!connected_) return;
    mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, false);
}

size_t MqttLink::queuedEvents() {
    std::lock_guard<std::mutex> hold(lock_);
    return events_.size();
}

void MqttLink::Flush() {
    std::unique_lock<std::mutex> hold(lock_);
    while (!stop_) {
        if (!loopRunning_) {
            hold.unlock();
            const bool started = StartConnecting();
            hold.lock();
            if (!started) {
                wake_.wait_for(hold, std::chrono::seconds(backoffS_), [this] { return stop_.load(); });
                backoffS_ = std::min(backoffS_ * 2, 60);
                continue;
            }
        }
        wake_.wait_for(hold, std::chrono::milliseconds(500),
                       [this] { return stop_ || (connected_ && (!dirty_.empty() || !events_.empty())); });
        if (stop_) continue;
        if (!connected_) {
            if (std::chrono::steady_clock::now() >= nextProbe_) {
                // The library retries quietly; a look at the broker's port names the cause.
                hold.unlock();
                const std::string why = ProbeBroker();
                if (!connected_ && !stop_) {
                    Fault("no connection to " + config_.host + ":" + std::to_string(config_.port) + ": " + why);
                }
                hold.lock();
                nextProbe_ = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            }
            continue;
        }
        nextProbe_ = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        // Events first, oldest first: an event isn't dropped once the broker took it.
        while (!events_.empty() && connected_) {
            const auto& e = events_.front();
            const int rc = mosquitto_publish(client_, nullptr, e.first.c_str(), static_cast<int>(e.second.size()),
                                             e.second.data(), 1, false);
            if (rc != MOSQ_ERR_SUCCESS) break;
            events_.pop_front();
        }
        while (!dirty_.empty() && connected_) {
            const std::string topic = *dirty_.begin();
            const std::string& payload = latest_[topic];
            const int rc = mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                             payload.data(), 1, true);
            if (rc != MOSQ_ERR_SUCCESS) break;
            dirty_.erase(dirty_.begin());
        }
    }
}

void MqttLink::OnConnect(mosquitto* client, void* self, int rc) {
    MqttLink& link = *static_cast<MqttLink*>(self);
    if (rc != 0) {
        link.Fault(std::string("the broker refused the connection: ") + mosquitto_reason_string(rc));
        return;
    }
    Log(kInfo, "MQTT: connected to " + link.config_.host + ":" + std::to_string(link.config_.port));
    {
        std::lock_guard<std::mutex> hold(link.lock_);
        link.lastError_.clear();
    }
    // Retain-as-published: a control published with the retain flag arrives
    // with it, live or not, and is refused.
    const std::string controls = link.prefix_ + "/+/+/set";
    mosquitto_subscribe_v5(client, nullptr, controls.c_str(), 1, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
    mosquitto_publish(client, nullptr, link.statusTopic_.c_str(), 6, "online", 1, true);
    {
        // The broker may have lost what it had: every latest value goes again.
        std::lock_guard<std::mutex> hold(link.lock_);
        for (const auto& [topic, payload] : link.latest_) link.dirty_.insert(topic);
        link.connected_ = true;
    }
    link.wake_.notify_all();
}

void MqttLink::OnDisconnect(mosquitto*, void* self, int rc) {
    MqttLink& link = *static_cast<MqttLink*>(self);
    link.connected_ = false;
    if (!link.stop_) link.Fault(std::string("connection lost (") + mosquitto_strerror(rc) + "); reconnecting");
}

void MqttLink::OnLog(mosquitto*, void* self, int level, const char* text) {
    // The library's own account of a failed connection (TLS errors above all).
    if (!text || !(level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING))) return;
    static_cast<MqttLink*>(self)->Fault(text);
}

void MqttLink::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    MqttLink& link = *static_cast<MqttLink*>(self);
    if (!message || !message->topic || !link.onControl_) return;
    const int size = message->payloadlen > 0 ? message->payloadlen : 0;
    const std::string payload(static_cast<const char*>(message->payload) ? static_cast<const char*>(message->payload) : "",
                              static_cast<size_t>(size));
    link.onControl_(message->topic, payload, message->retain);
}

}  // namespace vorlan_gateway
