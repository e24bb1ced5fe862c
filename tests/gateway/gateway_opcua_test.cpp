// The gateway's OPC UA side: the [opcua] section, the status codes the
// driver's qualities become, the relays' browse paths, and the server as
// built against the simulator on a pseudo-terminal, read by node-opcua
// (installed from npm into the build folder; the test skips without it).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <set>

#include "gateway_config.h"
#include "gateway_fixture.h"
#include "opcua_server.h"
#include "register_map.h"
#include "relay_model.h"
#include "vorlan/driver.h"

using namespace vorlan_gateway;
using namespace vorlan_gateway_test;

namespace {

const char kBase[] = R"(name = "north"
[driver]
library = "/nowhere/libvorlan.so"
[[line]]
[line.channel]
port = "/dev/ttyS0"
[[line.relay]]
address = 1
name = "feeder"
items = ["YC1"]
)";

std::string Load(const std::string& text, GatewayConfig& c) { return LoadGatewayConfigText(text, c); }

}  // namespace

TEST(GatewayOpcuaConfig, SectionKeysDefaultsAndRefusals) {
    GatewayConfig c;
    ASSERT_EQ(Load(kBase, c), "");
    EXPECT_FALSE(c.opcua.enabled);

    ASSERT_EQ(Load(std::string(kBase) + "[opcua]\nanonymous = true\n", c), "");
    EXPECT_TRUE(c.opcua.enabled);
    EXPECT_EQ(c.opcua.port, 4840);
    EXPECT_EQ(c.opcua.listen, "127.0.0.1");
    EXPECT_EQ(c.opcua.applicationUri, "urn:vorlan:gateway:north");
    EXPECT_EQ(c.opcua.security, std::vector<std::string>{"None"});

    ASSERT_EQ(Load(std::string(kBase) +
                       "[opcua]\nlisten = \"::1\"\nport = 4841\napplication_uri = \"urn:x\"\nsecurity = [\"None\"]\n"
                       "anonymous = true\n",
                   c),
              "");
    EXPECT_EQ(c.opcua.listen, "::1");
    EXPECT_EQ(c.opcua.port, 4841);
    EXPECT_EQ(c.opcua.applicationUri, "urn:x");
    ASSERT_EQ(Load(std::string(kBase) + "[opcua]\nenabled = false\n", c), "");
    EXPECT_FALSE(c.opcua.enabled);

    // Refused with the line and the key, never taken silently.
    EXPECT_NE(Load(std::string(kBase) + "[opcua]\nport = 0\n", c).find("'port'"), std::string::npos);
    EXPECT_NE(Load(std::string(kBase) + "[opcua]\nlisten = \"\"\n", c).find("'listen'"), std::string::npos);
    EXPECT_NE(Load(std::string(kBase) + "[opcua]\nsecurity = []\n", c).find("'security'"), std::string::npos);
    EXPECT_NE(Load(std::string(kBase) + "[opcua]\nsecurity = [\"Basic256Sha256\"]\n", c).find("'security'"),
              std::string::npos);
    EXPECT_NE(Load(std::string(kBase) + "[opcua]\nusers = 1\n", c).find("unknown key 'users'"), std::string::npos);
    EXPECT_NE(Load("opcua = 1\n" + std::string(kBase), c).find("[opcua]"), std::string::npos);

    // The single-channel form takes [opcua] too.
    ASSERT_EQ(Load("name = \"s\"\n[opcua]\nport = 4900\nanonymous = true\n[channel]\nport = \"/dev/ttyS0\"\n"
                   "[[relay]]\naddress = 1\nitems = [\"YC1\"]\n",
                   c),
              "");
    EXPECT_EQ(c.opcua.port, 4900);
}

TEST(GatewayOpcuaModel, QualitiesBecomeStatusCodes) {
    EXPECT_EQ(OpcuaStatusOf(VORLAN_QUALITY_GOOD), 0u);
    EXPECT_EQ(OpcuaStatusOf(VORLAN_QUALITY_WAITING), 0x80320000u);      // BadWaitingForInitialData
    EXPECT_EQ(OpcuaStatusOf(VORLAN_QUALITY_LAST_KNOWN), 0x40900000u);   // UncertainLastUsableValue
    // Anything else is bad, never good.
    EXPECT_EQ(OpcuaStatusOf(VORLAN_QUALITY_BAD), 0x80000000u);
    EXPECT_EQ(OpcuaStatusOf(0x7F), 0x80000000u);
}

TEST(GatewayOpcuaModel, RelayPathsAreNamedAndUnique) {
    GatewayConfig c;
    ASSERT_EQ(Load(R"(name = "north/yard"
[driver]
library = "/nowhere/libvorlan.so"
[[line]]
name = "bay A"
[line.channel]
port = "/dev/ttyS0"
[[line.relay]]
address = 1
name = "feeder"
items = ["YC1"]
[[line.relay]]
address = 2
name = "feeder"
items = ["YC1"]
[[line.relay]]
address = 3
items = ["YC1"]
[[line]]
unit_base = 100
[line.channel]
port = "/dev/ttyS1"
[[line.relay]]
address = 1
name = "feeder"
items = ["YC1"]
)",
                   c),
              "");
    const auto owned = BuildRelayPoints(c);
    std::vector<RelayPoints*> relays;
    for (const auto& r : owned) relays.push_back(r.get());
    std::vector<std::string> ids;
    for (const OpcuaRelayPath& p : OpcuaRelayPaths(c, relays)) ids.push_back(p.Id());
    EXPECT_EQ(ids, (std::vector<std::string>{"north_yard/bay A/feeder", "north_yard/bay A/relay 2",
                                             "north_yard/bay A/relay 3", "north_yard/line2/feeder"}));
    // A '/' in a name stays in the browse name, not in the node id.
    EXPECT_EQ(OpcuaRelayPaths(c, relays)[0].station, "north/yard");
}

class GatewayOpcuaTest : public GatewayTest {
protected:
    // node-opcua's client in the build folder, from npm at a pinned version;
    // empty text when ready, else why not.
    static std::string InstallClient(std::string& modules) {
        const std::string prefix = std::string(VORLAN_BINARY_DIR) + "/opcua-client";
        modules = prefix + "/node_modules";
        if (ReadFile(modules + "/node-opcua-client/package.json").find("\"version\": \"2.186.4\"") != std::string::npos) {
            return {};
        }
        if (RunTool("sh -c 'command -v node && command -v npm'").code != 0) return "node or npm is not installed";
        const Result r = RunTool("npm install --prefix " + Quote(prefix) +
                                 " --no-audit --no-fund --loglevel=error node-opcua-client@2.186.4");
        if (r.code != 0) return "npm can't install node-opcua-client: " + r.output.substr(0, 400);
        return {};
    }
    // Browses Objects/Vorlan and reads every variable below it.
    nlohmann::json Browse(const std::string& modules, int port) {
        const Result r = vorlan_tools_test::RunToolStdout(
            "timeout 60 node " + Quote(std::string(VORLAN_SOURCE_DIR) + "/tests/gateway/opcua_client.js") +
                " opc.tcp://127.0.0.1:" + std::to_string(port),
            {"NODE_PATH=" + modules});
        const size_t start = r.output.find("{\"nodes\"");
        if (r.code != 0 || start == std::string::npos) return nullptr;
        return nlohmann::json::parse(r.output.substr(start, r.output.find('\n', start) - start), nullptr, false);
    }
};

TEST_F(GatewayOpcuaTest, ServesTheSimulatorsValuesWithTheirQuality) {
    if (!OpcuaBuilt()) GTEST_SKIP() << "vorlan-gateway was built without OPC UA (scripts/fetch-open62541.sh)";
    std::string modules;
    if (const std::string why = InstallClient(modules); !why.empty()) GTEST_SKIP() << why;

    const std::string port = StartSimulator("1", 0);
    const int opcuaPort = FreePort();
    const time_t started = time(nullptr);
    // Relay 7 never answers: the simulator has no such relay.
    StartGateway(Head("ua", "", "", "control_timeout_ms = 4000\n[opcua]\nanonymous = true\nport = " +
                                                   std::to_string(opcuaPort) + "\n") +
                 Line(port, "reply_timeout_ms = 300\n[[line.relay]]\naddress = 1\nname = \"feeder 1\"\n"
                            "items = [\"YC1-YC3\", \"YX1-YX8\", \"YM1\", \"BWYX1-BWYX8\"]\n"
                            "[[line.relay]]\naddress = 7\nitems = [\"YC1\", \"YX2\", \"YM1\"]\n"));
    ASSERT_TRUE(WaitFor(15, [&] { return Answered(1) > 0; })) << ReadFile(gatewayLog_);

    nlohmann::json model;
    ASSERT_TRUE(WaitFor(60, [&] {
        model = Browse(modules, opcuaPort);
        if (!model.is_object()) return false;
        // Every point of the answering relay has come in.
        for (const char* p : {"YC1", "YC2", "YC3", "YX1", "YX8", "YM1"}) {
            const nlohmann::json& n = model["nodes"]["Vorlan/ua/line1/feeder 1/" + std::string(p)];
            if (!n.is_object() || n["status"] != "Good") return false;
        }
        return true;
    })) << model.dump(1) << ReadFile(gatewayLog_);
    const time_t read = time(nullptr);
    EXPECT_TRUE(gateway_->running());
    StopSimulator();

    // Exactly the configured points (BWYX are events, not variables), and the health folder.
    const nlohmann::json& nodes = model["nodes"];
    std::set<std::string> paths;
    for (const auto& [path, node] : nodes.items()) paths.insert(path);
    std::set<std::string> expected{"Vorlan/ua", "Vorlan/ua/line1", "Vorlan/ua/line1/feeder 1", "Vorlan/ua/line1/relay 7"};
    for (const std::string relay : {"Vorlan/ua/line1/feeder 1", "Vorlan/ua/line1/relay 7"}) {
        for (const char* h : {"", "/Answers", "/Failures", "/SecondsSinceAnswer", "/State", "/InBackoff"}) {
            expected.insert(relay + "/Health" + h);
        }
    }
    for (const char* p : {"YC1", "YC2", "YC3", "YX1", "YX2", "YX3", "YX4", "YX5", "YX6", "YX7", "YX8", "YM1"}) {
        expected.insert(std::string("Vorlan/ua/line1/feeder 1/") + p);
    }
    for (const char* p : {"YC1", "YX2", "YM1"}) expected.insert(std::string("Vorlan/ua/line1/relay 7/") + p);
    EXPECT_EQ(paths, expected);

    vorlan_sim::RelayModel* relay = sim_->relays().Find(1);
    ASSERT_NE(relay, nullptr);
    const std::string feeder = "Vorlan/ua/line1/feeder 1/";
    for (int p = 0; p < 8; ++p) {
        const nlohmann::json& yx = nodes[feeder + "YX" + std::to_string(p + 1)];
        EXPECT_EQ(yx["status"], "Good") << yx;
        EXPECT_EQ(yx["dataType"], "Boolean");
        EXPECT_EQ(yx["value"], relay->Input(p)) << "YX" << p + 1;
    }
    // Each measurement is one the relay sent for that channel at some poll,
    // stamped with the time of an answer between the gateway's start and the read.
    vorlan_sim::RelayModel replay(simConfig_.relays[0], simConfig_.seed);
    std::vector<std::set<int>> sent(3);
    for (uint64_t n = 0; n <= relay->polls(); ++n) {
        for (int k = 0; k < 3; ++k) sent[static_cast<size_t>(k)].insert(replay.Measurement(k));
        replay.Advance();
    }
    for (int k = 0; k < 3; ++k) {
        const nlohmann::json& yc = nodes[feeder + "YC" + std::to_string(k + 1)];
        EXPECT_EQ(yc["status"], "Good") << yc;
        EXPECT_EQ(yc["dataType"], "Double");
        ASSERT_TRUE(yc["value"].is_number()) << yc;
        EXPECT_EQ(sent[static_cast<size_t>(k)].count(static_cast<int>(yc["value"].get<double>())), 1u) << yc;
        struct tm t{};
        const std::string stamp = yc["sourceTimestamp"].is_string() ? yc["sourceTimestamp"].get<std::string>() : "";
        ASSERT_NE(strptime(stamp.c_str(), "%Y-%m-%dT%H:%M:%S", &t), nullptr) << yc;
        const time_t source = timegm(&t);
        EXPECT_GE(source, started - 1) << stamp;
        EXPECT_LE(source, read + 1) << stamp;
    }
    EXPECT_EQ(nodes[feeder + "YM1"]["dataType"], "UInt32");
    EXPECT_EQ(nodes[feeder + "YM1"]["status"], "Good");
    EXPECT_EQ(nodes[feeder + "Health/State"]["value"], "ok");
    EXPECT_GT(nodes[feeder + "Health/Answers"]["value"].get<long>(), 0);

    // The relay that never answered: every value waiting, its health saying so.
    for (const char* p : {"YC1", "YX2", "YM1", "Health/SecondsSinceAnswer"}) {
        EXPECT_EQ(nodes[std::string("Vorlan/ua/line1/relay 7/") + p]["status"], "BadWaitingForInitialData") << p;
    }
    EXPECT_EQ(nodes["Vorlan/ua/line1/relay 7/Health/Answers"]["value"], 0);

    // The simulator is gone: the values stay, only the last usable ones now.
    nlohmann::json silent;
    EXPECT_TRUE(WaitFor(40, [&] {
        silent = Browse(modules, opcuaPort);
        return silent.is_object() && silent["nodes"][feeder + "YC1"]["status"] == "UncertainLastUsableValue";
    })) << silent.dump(1);
    if (silent.is_object()) {
        const nlohmann::json& yc1 = silent["nodes"][feeder + "YC1"]["value"];
        ASSERT_TRUE(yc1.is_number());
        EXPECT_EQ(sent[0].count(static_cast<int>(yc1.get<double>())), 1u) << yc1;
        EXPECT_EQ(silent["nodes"][feeder + "YX1"]["value"], relay->Input(0));
        EXPECT_EQ(silent["nodes"][feeder + "YX1"]["status"], "UncertainLastUsableValue");
        EXPECT_EQ(silent["nodes"][feeder + "Health/State"]["value"], "stale");
    }

    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}

TEST_F(GatewayOpcuaTest, APortAlreadyTakenStopsTheStartWithTheReason) {
    if (!OpcuaBuilt()) GTEST_SKIP() << "vorlan-gateway was built without OPC UA (scripts/fetch-open62541.sh)";
    // Something else listens on the OPC UA port.
    const int taken = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(taken, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    socklen_t size = sizeof a;
    ASSERT_EQ(getsockname(taken, reinterpret_cast<sockaddr*>(&a), &size), 0);

    const std::string port = StartSimulator("1", 0);
    StartGateway(Head("ua", "", "", "[opcua]\nanonymous = true\nport = " + std::to_string(ntohs(a.sin_port)) + "\n") +
                 Line(port, "[[line.relay]]\naddress = 1\nitems = [\"YC1\"]\n"));
    // The gateway ends instead of running without the server it was asked for.
    EXPECT_TRUE(WaitFor(10, [&] { return !gateway_->running(); })) << ReadFile(gatewayLog_);
    EXPECT_NE(ReadFile(gatewayLog_).find("OPC UA: can't listen on opc.tcp://127.0.0.1:"), std::string::npos)
        << ReadFile(gatewayLog_);
    close(taken);
}

TEST_F(GatewayOpcuaTest, SessionAndSubscriptionLimitsUnknownNodesAndWritesGetTheProtocolsErrors) {
    if (!OpcuaBuilt()) GTEST_SKIP() << "vorlan-gateway was built without OPC UA (scripts/fetch-open62541.sh)";
    std::string modules;
    if (const std::string why = InstallClient(modules); !why.empty()) GTEST_SKIP() << why;
    const std::string port = StartSimulator("1", 0);
    const int opcuaPort = FreePort();
    StartGateway(Head("ua", "", "", "[opcua]\nanonymous = true\nmax_sessions = 2\nmax_subscriptions = 3\nport = " +
                                        std::to_string(opcuaPort) + "\n") +
                 Line(port, "[[line.relay]]\naddress = 1\nname = \"feeder\"\nitems = [\"YC1\"]\n"));
    ASSERT_TRUE(WaitFor(15, [&] { return Answered(1) > 0; })) << ReadFile(gatewayLog_);
    const Result r = vorlan_tools_test::RunToolStdout(
        "timeout 60 node " + Quote(std::string(VORLAN_SOURCE_DIR) + "/tests/gateway/opcua_limits.js") +
            " opc.tcp://127.0.0.1:" + std::to_string(opcuaPort) + " 5 'ns=1;s=Vorlan/ua/line1/feeder/YC1'",
        {"NODE_PATH=" + modules});
    const size_t start = r.output.find("{\"sessions\"");
    ASSERT_NE(start, std::string::npos) << r.output;
    const auto j = nlohmann::json::parse(r.output.substr(start, r.output.find('\n', start) - start));
    EXPECT_EQ(j["sessions"], 2) << j;
    EXPECT_NE(j["sessionError"].get<std::string>().find("BadTooManySessions"), std::string::npos) << j;
    EXPECT_EQ(j["subscriptions"], 3) << j;
    EXPECT_NE(j["subscriptionError"].get<std::string>().find("BadTooManySubscriptions"), std::string::npos) << j;
    EXPECT_EQ(j["unknown"], "BadNodeIdUnknown");
    EXPECT_TRUE(j["write"] == "BadNotWritable" || j["write"] == "BadUserAccessDenied") << j;
    EXPECT_TRUE(gateway_->running());
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}
