#pragma once
// The MQTT side: values as retained messages, status-change events and
// control results with QoS 1, the gateway's status with a last will, and
// the control subscriptions. While the broker is away the latest value of
// every topic is kept and published again on reconnect; events wait in a
// bounded queue, the oldest dropped and counted.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "gateway_config.h"

struct mosquitto;
struct mosquitto_message;

namespace vorlan_gateway {

class MqttLink {
public:
    // `onControl` gets every message on a .../set topic; `retained` ones are
    // old messages the broker kept, never a fresh request.
    using ControlHandler = std::function<void(const std::string& topic, const std::string& payload, bool retained)>;

    MqttLink(const MqttConfig& config, ControlHandler onControl);
    ~MqttLink();

    // Sets up the client and starts connecting; empty text on success.
    // A broker that isn't there yet, refuses TLS or has a bad CA file is not
    // an error: the cause is logged and the link keeps trying, backing off.
    std::string Start();
    // Publishes "offline" when connected, disconnects and ends the threads,
    // without waiting on a broker that does not answer.
    void Stop();

    // vorlan/<station>
    const std::string& prefix() const { return prefix_; }

    void PublishValue(const std::string& topic, const std::string& payload);    // retained
    void PublishEvent(const std::string& topic, const std::string& payload);    // QoS 1, queued while away
    void PublishNow(const std::string& topic, const std::string& payload, int qos);  // dropped while away

    bool connected() const { return connected_; }
    uint64_t droppedEvents() const { return dropped_; }
    size_t queuedEvents();
    // The latest connection fault, empty when none since connecting.
    std::string lastError();

private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void OnLog(mosquitto*, void* self, int level, const char* text);
    void Flush();
    bool StartConnecting();
    void Fault(const std::string& cause);
    std::string ProbeBroker();

    MqttConfig config_;
    ControlHandler onControl_;
    std::string prefix_;
    std::string statusTopic_;
    mosquitto* client_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> dropped_{0};

    std::mutex lock_;
    std::condition_variable wake_;
    std::map<std::string, std::string> latest_;   // every retained topic's latest payload
    std::set<std::string> dirty_;                 // published since the broker last saw them
    std::deque<std::pair<std::string, std::string>> events_;
    std::thread flusher_;
    bool loopRunning_ = false;    // the network thread, started once a connection is under way
    bool tlsReady_ = false;
    int backoffS_ = 1;            // before the next try of a first connection; doubles up to a minute
    std::string lastError_;       // under lock_
    std::map<std::string, std::chrono::steady_clock::time_point> told_;   // causes logged, when
    std::chrono::steady_clock::time_point nextProbe_ = std::chrono::steady_clock::now() + std::chrono::seconds(3);
};

}  // namespace vorlan_gateway
