#pragma once
// The fixture of the gateway tests that run real parts: the simulator in
// this process on a pseudo-terminal, the gateway as built, a mosquitto
// broker on a free port, and mbpoll and the mosquitto clients.

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "gateway_process.h"
#include "simulator.h"
#include "tool_process.h"

namespace vorlan_gateway_test {

using vorlan_tools_test::Quote;
using vorlan_tools_test::ReadFile;
using vorlan_tools_test::Result;
using vorlan_tools_test::RunTool;
using vorlan_tools_test::WriteFile;

class GatewayTest : public ::testing::Test {
protected:
    // An in-process simulated line; its relays are read after StopSimulator.
    // The relay at `noCounters` sends no counters.
    // `adjust`, when given, changes the relays' settings before the start.
    std::string StartSimulator(const std::string& relays, double changeRate, int noCounters = 0,
                               const std::function<void(vorlan_sim::SimConfig&)>& adjust = {}) {
        vorlan_sim::SimConfig config;
        config.seed = 3;
        vorlan_sim::ParseRelayList(relays, config.relays);
        for (auto& r : config.relays) {
            r.changeRate = changeRate;
            r.busyRate = 0;
            if (r.address == noCounters) r.counters = 0;
        }
        if (adjust) adjust(config);
        simConfig_ = config;
        sim_ = std::make_unique<vorlan_sim::Simulator>(config);
        EXPECT_EQ(sim_->Open(), "");
        sim_->Start();
        return sim_->path();
    }
    void StopSimulator() { sim_->Stop(); }

    // `modbus` adds keys to [modbus], `gateway` to [gateway].
    std::string Head(const std::string& name, const std::string& extra = "", const std::string& modbus = "",
                     const std::string& gateway = "control_timeout_ms = 4000\n") {
        modbusPort_ = FreePort();
        std::ostringstream s;
        s << "name = \"" << name << "\"\n[driver]\nlibrary = \"" << vorlan_tools_test::LibraryPath() << "\"\n"
          << "[gateway]\n" << gateway << "[modbus]\nport = " << modbusPort_ << "\n" << modbus;
        if (mqttPort_) s << "[mqtt]\nhost = \"127.0.0.1\"\nport = " << mqttPort_ << "\nhealth_interval_s = 1\n" << extra;
        return s.str();
    }
    static std::string Line(const std::string& port, const std::string& relays, int unitBase = 0) {
        return "[[line]]\nunit_base = " + std::to_string(unitBase) + "\n[line.channel]\nport = \"" + port + "\"\n" + relays;
    }
    void StartGateway(const std::string& config, const std::string& name = "gateway") {
        const std::string path = dir_.path() + "/" + name + ".toml";
        WriteFile(path, config);
        gatewayLog_ = dir_.path() + "/" + name + ".log";
        gateway_ = std::make_unique<Background>(vorlan_tools_test::ToolPath("vorlan-gateway") + " -v -c " + Quote(path),
                                                gatewayLog_);
    }
    // The quality block's answered count of `unit`; -1 when it can't be read.
    long Answered(int unit, int port = 0) {
        std::string error;
        const auto w = ReadInputWords(port ? port : modbusPort_, unit, 2001, 2, error);
        return w.size() == 2 ? (static_cast<long>(w[0]) << 16 | w[1]) : -1;
    }
    long SecondsSinceAnswer(int unit) {
        std::string error;
        const auto w = ReadInputWords(modbusPort_, unit, 2005, 2, error);
        return w.size() == 2 ? (static_cast<long>(w[0]) << 16 | w[1]) : -1;
    }
    // mbpoll with `options`, then the host, then the values to write.
    Result Mbpoll(const std::string& options, const std::string& values = "") {
        return RunTool("mbpoll -m tcp -1 -q -o 6 -p " + std::to_string(modbusPort_) + " " + options + " 127.0.0.1 " + values);
    }
    void StartBroker() {
        if (!mqttPort_) mqttPort_ = FreePort();
        broker_ = std::make_unique<Broker>(dir_.path(), mqttPort_);
    }
    std::unique_ptr<Background> Subscribe(const std::string& file, const std::string& topic = "vorlan/#") {
        auto sub = std::make_unique<Background>(
            "mosquitto_sub -v -q 1 -p " + std::to_string(broker_->port()) + " -t " + Quote(topic), file);
        usleep(300000);
        return sub;
    }
    Result Publish(const std::string& topic, const std::string& payload) {
        return RunTool("mosquitto_pub -q 1 -p " + std::to_string(broker_->port()) + " -t " + Quote(topic) + " -m " +
                       Quote(payload));
    }
    // The first retained message of `topic`, within `seconds`.
    std::string Retained(const std::string& topic, int seconds = 3) {
        return RunTool("mosquitto_sub -C 1 -W " + std::to_string(seconds) + " -p " + std::to_string(broker_->port()) +
                       " -t " + Quote(topic))
            .output;
    }

    vorlan_tools_test::TempDir dir_;
    vorlan_sim::SimConfig simConfig_;
    std::unique_ptr<vorlan_sim::Simulator> sim_;
    std::unique_ptr<Broker> broker_;
    std::unique_ptr<Background> gateway_;
    std::string gatewayLog_;
    int modbusPort_ = 0;
    int mqttPort_ = 0;
};

}  // namespace vorlan_gateway_test
