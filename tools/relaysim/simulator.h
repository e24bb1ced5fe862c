// SPDX-License-Identifier: Apache-2.0
#pragma once
// A whole simulated line in one object: the port, the relays, the fault
// injector and the loop. Runs in the calling thread or on its own thread,
// so tests and the soak test drive it in-process.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "answer_builder.h"
#include "fault_injector.h"
#include "line_loop.h"
#include "sim_config.h"
#include "sim_port.h"

namespace vorlan_sim {

class Simulator {
public:
    explicit Simulator(SimConfig config);
    ~Simulator();

    // Checks the configuration and opens the line; empty text on success.
    std::string Open();
    const std::string& path() const { return port_.path(); }
    const std::string& link() const { return port_.link(); }

    // Serves the line until `stop` is set or the line fails.
    std::string Run(const std::atomic<bool>& stop);
    // The same on a thread of its own.
    void Start();
    void Stop();

    // Read these after Stop (or from the thread that runs the loop).
    RelayLine& relays() { return *relays_; }
    const FaultInjector& faults() const { return *faults_; }
    const LineLoop& loop() const { return *loop_; }
    std::string Summary() const;

private:
    SimConfig config_;
    SimPort port_;
    std::unique_ptr<RelayLine> relays_;
    std::unique_ptr<FaultInjector> faults_;
    std::unique_ptr<LineLoop> loop_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex logMutex_;
};

}  // namespace vorlan_sim
