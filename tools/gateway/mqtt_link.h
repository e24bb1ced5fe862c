#pragma once
// The MQTT side: values as retained messages, status-change events and
// control results with QoS 1, the gateway's status with a last will, and
// the control subscriptions. While the broker is away the latest value of
// every topic is kept and published again on reconnect; events wait in a
// bounded queue, the oldest dropped and counted.

#include <atomic>
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
    // A broker that isn't there yet is not an error: the link keeps trying.
    std::string Start();
    // Publishes "offline", disconnects and ends the threads.
    void Stop();

    // vorlan/<station>
    const std::string& prefix() const { return prefix_; }

    void PublishValue(const std::string& topic, const std::string& payload);    // retained
    void PublishEvent(const std::string& topic, const std::string& payload);    // QoS 1, queued while away
    void PublishNow(const std::string& topic, const std::string& payload, int qos);  // dropped while away

    bool connected() const { return connected_; }
    uint64_t droppedEvents() const { return dropped_; }
    size_t queuedEvents();

private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    void Flush();
    bool StartConnecting();

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
};

}  // namespace vorlan_gateway
