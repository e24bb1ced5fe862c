// Remote controls that nobody may wait for any more: past their deadline in
// the queue, queued when the gateway stops, aimed at a line known lost, or
// sent as retained MQTT messages. None of them may reach the relay, each is
// answered, and each leaves one audit line.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "gateway_fixture.h"
#include "relay_model.h"

using namespace vorlan_gateway_test;

namespace {

using Clock = std::chrono::steady_clock;

const char kControlled[] = "[[line.relay]]\naddress = 1\nallow_control = true\nitems = [\"YC1\", \"YK1-YK4\"]\n";

// A coil write on a fresh connection: YK(coil+1) close or open.
int SendControl(int port, uint8_t unit, int coil, bool close) {
    const int s = Connect("127.0.0.1", port);
    SendBytes(s, Frame(static_cast<uint16_t>(coil + 1), unit,
                       {5, 0, static_cast<uint8_t>(coil), static_cast<uint8_t>(close ? 0xFF : 0), 0}));
    return s;
}

// The answer on `s`: 0 done, the exception code, or -1 for none.
int Answer(int s, int ms) {
    const std::vector<uint8_t> r = ReadFrame(s, ms);
    if (r.size() == 12 && r[7] == 5) return 0;
    if (r.size() == 9 && r[7] == 0x85) return r[8];
    return -1;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class ControlEdges : public GatewayTest {
protected:
    std::string AuditPath() { return dir_.path() + "/audit.log"; }
    std::string Gateway(int timeoutMs) {
        return "control_timeout_ms = " + std::to_string(timeoutMs) + "\naudit_file = \"" + AuditPath() + "\"\n";
    }
};

}  // namespace

TEST_F(ControlEdges, ControlsPastTheirDeadlineAreAnsweredAndNeverReachTheLine) {
    const std::string port = StartSimulator("1", 0);
    StartGateway(Head("late", "", "", Gateway(500)) + Line(port, kControlled));
    ASSERT_TRUE(WaitFor(15, [&] { return Answered(1) > 0; })) << ReadFile(gatewayLog_);

    std::vector<int> sockets;
    for (int i = 0; i < 16; ++i) sockets.push_back(SendControl(modbusPort_, 1, i % 4, i % 2 == 0));
    int done = 0, late = 0;
    for (int s : sockets) {
        const int a = Answer(s, 5000);
        EXPECT_TRUE(a == 0 || a == 11) << a;
        done += a == 0;
        late += a == 11;
        close(s);
    }
    EXPECT_EQ(done + late, 16);
    StopSimulator();
    const std::string audit = ReadFile(AuditPath());
    EXPECT_EQ(Count(audit, " control source=\"modbus 127.0.0.1:"), 16u) << audit;
    // Some waited past their time in the queue: answered, never sent.
    const size_t expired = Count(audit, "while it waited for the line");
    const size_t unconfirmed = Count(audit, "no confirmation from the relay");
    EXPECT_GE(expired, 1u) << audit;
    const uint64_t executed = sim_->relays().Find(1)->controlsExecuted();
    EXPECT_GE(executed, static_cast<uint64_t>(done));
    EXPECT_LE(executed, static_cast<uint64_t>(done) + unconfirmed) << audit;
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}

TEST_F(ControlEdges, SigtermAnswersEveryQueuedControlStoppingAndSendsNoneOfThem) {
    StartBroker();
    const std::string port = StartSimulator("1", 0);
    const std::string messages = dir_.path() + "/messages.txt";
    auto sub = Subscribe(messages, "vorlan/stop/#");
    StartGateway(Head("stop", "", "", Gateway(10000)) + Line(port, kControlled));
    auto has = [&](const std::string& text) { return ReadFile(messages).find(text) != std::string::npos; };
    ASSERT_TRUE(WaitFor(15, [&] { return Answered(1) > 0 && has("vorlan/stop/status online"); })) << ReadFile(gatewayLog_);

    std::vector<int> sockets;
    for (int i = 0; i < 12; ++i) sockets.push_back(SendControl(modbusPort_, 1, i % 4, i % 2 == 0));
    for (int i = 1; i <= 3; ++i) Publish("vorlan/stop/1/YK" + std::to_string(i) + "/set", "{\"action\":\"close\",\"id\":\"m" + std::to_string(i) + "\"}");
    const auto sent = Clock::now();
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
    const double stopS = std::chrono::duration<double>(Clock::now() - sent).count();
    EXPECT_LT(stopS, 2.0) << ReadFile(gatewayLog_);

    // Every Modbus control is answered before its connection closes: done, or busy (exception 6).
    int done = 0, busy = 0;
    for (int s : sockets) {
        const int a = Answer(s, 1000);
        EXPECT_TRUE(a == 0 || a == 6) << a;
        done += a == 0;
        busy += a == 6;
        close(s);
    }
    EXPECT_GE(busy, 6);
    ASSERT_TRUE(WaitFor(5, [&] { return Count(ReadFile(messages), "\"item\":\"YK") >= 3; })) << ReadFile(messages);
    const std::string all = ReadFile(messages);
    const size_t mqttDone = Count(all, "\"result\":\"done\"");
    EXPECT_EQ(mqttDone + Count(all, "\"result\":\"stopping\""), 3u) << all;
    StopSimulator();
    // Nothing queued reached the line; one control under way may have been carried out as it was cancelled.
    const uint64_t executed = sim_->relays().Find(1)->controlsExecuted();
    EXPECT_GE(executed, done + mqttDone);
    EXPECT_LE(executed, done + mqttDone + 1);
    EXPECT_EQ(Count(ReadFile(AuditPath()), " control source="), 15u) << ReadFile(AuditPath());
}

TEST_F(ControlEdges, RetainedControlsAndControlsForALostLineAreRefusedAtOnce) {
    StartBroker();
    const std::string port = StartSimulator("1", 0);
    const std::string messages = dir_.path() + "/messages.txt";
    auto sub = Subscribe(messages, "vorlan/lost/#");
    StartGateway(Head("lost", "", "", Gateway(10000)) + Line(port, kControlled) +
                 Line(dir_.path() + "/nowhere", "[[line.relay]]\naddress = 2\nallow_control = true\nitems = [\"YK1\"]\n", 10));
    auto has = [&](const std::string& text) { return ReadFile(messages).find(text) != std::string::npos; };
    ASSERT_TRUE(WaitFor(15, [&] { return Answered(1) > 0 && has("vorlan/lost/status online"); })) << ReadFile(gatewayLog_);

    // Published retained while the gateway listens: seen as retained, refused.
    RunTool("mosquitto_pub -r -q 1 -p " + std::to_string(broker_->port()) + " -t vorlan/lost/1/YK1/set -m close");
    EXPECT_TRUE(WaitFor(5, [&] { return has("\"reason\":\"a retained control message is never carried out\""); }))
        << ReadFile(messages);
    RunTool("mosquitto_pub -r -n -q 1 -p " + std::to_string(broker_->port()) + " -t vorlan/lost/1/YK1/set");

    // The line whose port is missing: refused at once, over Modbus and MQTT.
    EXPECT_TRUE(WaitFor(5, [&] { return has("\"state\":\"port missing\""); })) << ReadFile(messages);
    auto start = Clock::now();
    int s = SendControl(modbusPort_, 12, 0, true);
    EXPECT_EQ(Answer(s, 5000), 11);
    close(s);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
    Publish("vorlan/lost/12/YK1/set", "close");
    EXPECT_TRUE(WaitFor(5, [&] { return has("vorlan/lost/12/YK1/result {\"action\":\"close\",\"item\":\"YK1\",\"reason\""); }))
        << ReadFile(messages);
    EXPECT_TRUE(has("\"result\":\"line_down\""));

    // The line that was answering falls silent: once that is known, the same.
    StopSimulator();
    ASSERT_TRUE(WaitFor(20, [&] {
        const std::string all = ReadFile(messages);
        const size_t at = all.rfind("vorlan/lost/1/health ");
        return at != std::string::npos && all.find("\"line_state\":\"open\"", at) > all.find('\n', at);
    })) << ReadFile(gatewayLog_);
    // A change of quality alone goes out again: the value is now only the last known.
    EXPECT_TRUE(WaitFor(10, [&] { return has("vorlan/lost/1/YC1 {\"quality\":20,"); })) << ReadFile(messages);
    start = Clock::now();
    s = SendControl(modbusPort_, 1, 1, true);
    EXPECT_EQ(Answer(s, 5000), 11);
    close(s);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
    EXPECT_EQ(sim_->relays().Find(1)->controlsExecuted(), 0u);

    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
    const std::string audit = ReadFile(AuditPath());
    EXPECT_EQ(Count(audit, "outcome=line_down"), 3u) << audit;
    EXPECT_GE(Count(audit, "reason=\"a retained control message is never carried out\""), 1u) << audit;
}
