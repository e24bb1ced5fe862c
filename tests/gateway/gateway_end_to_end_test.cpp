// vorlan-gateway as built, against the simulator on pseudo-terminals, a
// mosquitto broker on a free port, mbpoll as the Modbus client and
// mosquitto_sub / mosquitto_pub as the MQTT clients.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "answer_builder.h"
#include "gateway_fixture.h"
#include "gateway_process.h"
#include "relay_model.h"
#include "simulator.h"
#include "tool_process.h"

using namespace vorlan_gateway_test;
using vorlan_tools_test::Quote;
using vorlan_tools_test::ReadFile;
using vorlan_tools_test::Result;
using vorlan_tools_test::RunTool;
using vorlan_tools_test::WriteFile;

namespace {

std::vector<int> Column(const std::string& output) {
    std::vector<int> out;
    for (const std::string& line : Lines(output)) {
        const size_t colon = line.find("]:");
        if (line.rfind("[", 0) == 0 && colon != std::string::npos) out.push_back(std::atoi(line.c_str() + colon + 2));
    }
    return out;
}

std::vector<double> Floats(const std::string& output) {
    std::vector<double> out;
    for (const std::string& line : Lines(output)) {
        const size_t colon = line.find("]:");
        if (line.rfind("[", 0) == 0 && colon != std::string::npos) out.push_back(std::atof(line.c_str() + colon + 2));
    }
    return out;
}

}  // namespace

TEST_F(GatewayTest, ModbusServesTheSimulatorsValuesAndRunsOnlyAllowedControls) {
    const std::string port = StartSimulator("1,2", 0, 2);
    StartGateway(Head("modbus") +
                 Line(port, "[[line.relay]]\naddress = 1\nallow_control = true\n"
                            "items = [\"YC1-YC4\", \"YX1-YX32\", \"YM1-YM2\", \"YK1-YK4\", \"YK40\"]\n"
                            "[[line.relay]]\naddress = 2\nitems = [\"YC1-YC2\", \"YX1-YX8\", \"YM1\", \"YK1\"]\n"));
    ASSERT_TRUE(WaitFor(15, [&] { return Answered(1) > 0 && Answered(2) > 0; })) << ReadFile(gatewayLog_);
    // Relay 2 sends no counters: the driver's 0 is not served as its value.
    EXPECT_NE(Mbpoll("-a 2 -t 3 -r 1001 -c 2").output.find("Target device failed to respond"), std::string::npos);

    // A close through a coil write is answered once the relay confirmed it.
    const Result close = Mbpoll("-a 1 -t 0 -r 3", "1");
    EXPECT_EQ(close.code, 0) << close.output << ReadFile(gatewayLog_);
    // The relay's input follows the control; the gateway shows it as YX3.
    EXPECT_TRUE(WaitFor(10, [&] { return Column(Mbpoll("-a 1 -t 1 -r 3 -c 1").output) == std::vector<int>{1}; }));
    EXPECT_EQ(Column(Mbpoll("-a 1 -t 0 -r 3 -c 1").output), std::vector<int>{1});

    // Refused without reaching the line: a relay without allow_control.
    const Result notAllowed = Mbpoll("-a 2 -t 0 -r 1", "1");
    EXPECT_NE(notAllowed.code, 0);
    EXPECT_NE(notAllowed.output.find("Illegal data address"), std::string::npos) << notAllowed.output;
    // Refused by the relay (it has 32 control points): an exception, never success.
    const Result refused = Mbpoll("-a 1 -t 0 -r 40", "1");
    EXPECT_NE(refused.code, 0);
    EXPECT_EQ(refused.output.find("Written"), std::string::npos) << refused.output;

    // Outside the map: the standard exceptions.
    EXPECT_NE(Mbpoll("-a 1 -t 3 -r 9 -c 2").output.find("Illegal data address"), std::string::npos);
    EXPECT_NE(Mbpoll("-a 1 -t 1 -r 30 -c 4").output.find("Illegal data address"), std::string::npos);
    EXPECT_NE(Mbpoll("-a 1 -t 4 -r 1 -c 2").output.find("Illegal function"), std::string::npos);
    EXPECT_NE(Mbpoll("-a 9 -t 3 -r 1 -c 2").output.find("Gateway path unavailable"), std::string::npos);
    // A multi-coil write is refused whole.
    EXPECT_NE(Mbpoll("-a 1 -t 0 -r 1", "1 1").code, 0);

    const std::vector<int> yx = Column(Mbpoll("-a 1 -t 1 -r 1 -c 32").output);
    const std::vector<double> yc = Floats(Mbpoll("-a 1 -B -t 3:float -r 1 -c 4").output);
    const std::vector<double> ycLittle = Floats(Mbpoll("-a 1 -t 3:float -r 1 -c 4").output);
    EXPECT_TRUE(gateway_->running());
    StopSimulator();

    vorlan_sim::RelayModel* relay = sim_->relays().Find(1);
    ASSERT_NE(relay, nullptr);
    EXPECT_EQ(relay->controlsExecuted(), 1u);
    EXPECT_EQ(sim_->relays().Find(2)->controlsExecuted(), 0u);
    ASSERT_EQ(yx.size(), 32u);
    for (int p = 0; p < 32; ++p) EXPECT_EQ(yx[static_cast<size_t>(p)], relay->Input(p) ? 1 : 0) << "YX" << p + 1;
    // Each measurement is one the relay sent for that channel at some poll.
    ASSERT_EQ(yc.size(), 4u);
    vorlan_sim::RelayModel replay(simConfig_.relays[0], simConfig_.seed);
    std::vector<std::set<int>> sent(4);
    for (uint64_t n = 0; n <= relay->polls(); ++n) {
        for (int k = 0; k < 4; ++k) sent[static_cast<size_t>(k)].insert(replay.Measurement(k));
        replay.Advance();
    }
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(yc[k], std::round(yc[k])) << "YC" << k + 1;
        EXPECT_EQ(sent[k].count(static_cast<int>(yc[k])), 1u) << "YC" << k + 1 << " = " << yc[k];
    }
    // In the default word order mbpoll's little-endian floats are not the values.
    EXPECT_NE(ycLittle, yc);

    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}

TEST_F(GatewayTest, MqttValuesEventsControlsAndABrokerRestart) {
    StartBroker();
    const std::string port = StartSimulator("1", 0.3);
    const std::string messages = dir_.path() + "/messages.txt";
    auto sub = Subscribe(messages);
    StartGateway(Head("mq", "event_queue = 4\n") +
                 Line(port, "[[line.relay]]\naddress = 1\nallow_control = true\n"
                            "items = [\"YC1-YC2\", \"YX1-YX32\", \"BWYX1-BWYX32\", \"BWYX10001-BWYX10032\", \"YK2\"]\n"));
    auto has = [&](const std::string& text) { return ReadFile(messages).find(text) != std::string::npos; };
    ASSERT_TRUE(WaitFor(15, [&] { return has("vorlan/mq/status online") && has("vorlan/mq/1/YC1 {"); }))
        << ReadFile(messages) << ReadFile(gatewayLog_);
    ASSERT_TRUE(WaitFor(20, [&] { return has("vorlan/mq/1/events {"); })) << ReadFile(messages);

    // A value is retained, with its quality and UTC time.
    const auto yc1 = nlohmann::json::parse(Retained("vorlan/mq/1/YC1"));
    EXPECT_EQ(yc1["quality"], 192);
    EXPECT_TRUE(yc1["value"].is_number());
    EXPECT_EQ(yc1["ts"].get<std::string>().back(), 'Z');

    // Controls: one carried out, the others refused with the reason.
    Publish("vorlan/mq/1/YK2/set", R"({"action":"close","id":"c-1"})");
    Publish("vorlan/mq/1/YK2/set", "shut");
    Publish("vorlan/mq/1/YK3/set", "close");
    Publish("vorlan/mq/5/YK1/set", "open");
    ASSERT_TRUE(WaitFor(10, [&] { return has("\"id\":\"c-1\",\"item\":\"YK2\",\"result\"") && has("vorlan/mq/5/YK1/result"); }))
        << ReadFile(messages);
    const std::string all = ReadFile(messages);
    EXPECT_NE(all.find(R"("action":"close","id":"c-1","item":"YK2","result":"done")"), std::string::npos) << all;
    EXPECT_NE(all.find(R"(vorlan/mq/1/YK2/result {"item":"YK2","reason":"payload is neither)"), std::string::npos);
    EXPECT_NE(all.find(R"(vorlan/mq/1/YK3/result {"action":"close","item":"YK3","reason":"YK3 is not among)"),
              std::string::npos);
    EXPECT_NE(all.find(R"(vorlan/mq/5/YK1/result {"action":"open","item":"YK1","reason":"no relay with unit id 5")"),
              std::string::npos);
    EXPECT_TRUE(has("vorlan/mq/1/health {"));

    // The broker goes away and comes back empty: the values are there again,
    // the events that waited meanwhile were kept up to the bound.
    sub.reset();
    broker_->Stop();
    sleep(3);
    broker_->Restart();
    const std::string again = Retained("vorlan/mq/1/YC1", 15);
    EXPECT_NE(again.find("\"quality\":192"), std::string::npos) << again << ReadFile(gatewayLog_);
    EXPECT_NE(Retained("vorlan/mq/status", 5).find("online"), std::string::npos);
    const auto health = nlohmann::json::parse(Retained("vorlan/mq/gateway/health", 5).substr(0));
    EXPECT_LE(health["queued_events"].get<int>(), 4);

    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
    EXPECT_NE(Retained("vorlan/mq/status").find("offline"), std::string::npos);
    StopSimulator();
    EXPECT_EQ(sim_->relays().Find(1)->controlsExecuted(), 1u);
}

TEST_F(GatewayTest, ALineThatFailsIsRetriedAndComesBack) {
    const std::string link = dir_.path() + "/line";
    // The gateway starts before its line exists, and keeps trying calmly.
    StartGateway(Head("unplug") + Line(link, "[[line.relay]]\naddress = 1\nitems = [\"YC1\"]\n"));
    sleep(1);
    ASSERT_TRUE(gateway_->running()) << ReadFile(gatewayLog_);
    EXPECT_NE(ReadFile(gatewayLog_).find("trying again"), std::string::npos) << ReadFile(gatewayLog_);
    {
        vorlan_tools_test::SimulatorProcess sim("--relays 1 --link " + Quote(link));
        ASSERT_TRUE(WaitFor(15, [&] { return Answered(1) > 0; })) << ReadFile(gatewayLog_);
    }
    // Unplugged: no answers, the values stay, the service stays up.
    const long before = Answered(1);
    ASSERT_TRUE(WaitFor(15, [&] { return SecondsSinceAnswer(1) >= 2; })) << ReadFile(gatewayLog_);
    EXPECT_EQ(Answered(1), before);
    EXPECT_TRUE(gateway_->running());
    vorlan_tools_test::SimulatorProcess back("--relays 1 --link " + Quote(link));
    EXPECT_TRUE(WaitFor(20, [&] { return Answered(1) > before; })) << ReadFile(gatewayLog_);
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}

TEST_F(GatewayTest, TwoGatewaysOnThreeLinesPublishToOneBroker) {
    vorlan_tools_test::SimulatorProcess a1("--relays 1 --seed 11"), a2("--relays 1 --seed 12"), b("--relays 1 --seed 13");
    const std::string relay = "[[line.relay]]\naddress = 1\nitems = [\"YC1\"]\n";
    // The gateways start before the broker and connect once it is there.
    mqttPort_ = FreePort();
    StartGateway(Head("a") + Line(a1.path(), relay) + Line(a2.path(), relay, 10), "a");
    auto first = std::move(gateway_);
    const int firstPort = modbusPort_;
    StartGateway(Head("b") + Line(b.path(), relay), "b");
    sleep(1);
    StartBroker();
    const std::string messages = dir_.path() + "/messages.txt";
    auto sub = Subscribe(messages, "vorlan/+/+/YC1");
    auto has = [&](const std::string& text) { return ReadFile(messages).find(text) != std::string::npos; };
    EXPECT_TRUE(WaitFor(20, [&] { return has("vorlan/a/1/YC1 ") && has("vorlan/a/11/YC1 ") && has("vorlan/b/1/YC1 "); }))
        << ReadFile(messages);
    EXPECT_GT(Answered(11, firstPort), 0);
    EXPECT_EQ(first->Stop(SIGTERM), 0);
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}
