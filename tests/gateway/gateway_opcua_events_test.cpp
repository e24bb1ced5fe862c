// The gateway's OPC UA status changes, units and subscriptions: the units
// table of the configuration, and, against the simulator on a
// pseudo-terminal, node-opcua clients subscribed to the relay's events, its
// YX variables and a measurement with a deadband (the test skips without
// OPC UA in the build or without node and npm).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

#include "eng_units.h"
#include "gateway_config.h"
#include "gateway_fixture.h"
#include "opcua_server.h"

using namespace vorlan_gateway;
using namespace vorlan_gateway_test;

namespace {

std::string WithUnits(const std::string& units, const std::string& items = "[\"YC1-YC3\", \"YX1\"]") {
    return "name = \"north\"\n[driver]\nlibrary = \"/nowhere/libvorlan.so\"\n[[line]]\n[line.channel]\n"
           "port = \"/dev/ttyS0\"\n[[line.relay]]\naddress = 1\nitems = " + items + "\n" + units +
           "[[line.relay]]\naddress = 2\nitems = [\"YC1\"]\n";
}

}  // namespace

TEST(GatewayOpcuaUnits, TheUnitsTableNamesOnlyTheRelaysMeasurementsAndKnownUnits) {
    GatewayConfig c;
    ASSERT_EQ(LoadGatewayConfigText(WithUnits("units = { YC1 = \"kV\", yc3 = \"A\" }\n"), c), "");
    ASSERT_EQ(c.lines.at(0).units.size(), 2u);
    EXPECT_EQ(c.lines[0].units[0], (std::map<int, std::string>{{1, "kV"}, {3, "A"}}));
    EXPECT_TRUE(c.lines[0].units[1].empty());
    // --map shows the units beside the measurements, and the health's back-off.
    const std::string map = OpcuaMapText(c);
    EXPECT_NE(map.find("/relay 1/YC1   Double   kV\n"), std::string::npos) << map;
    EXPECT_NE(map.find("/relay 1/YC2   Double\n"), std::string::npos) << map;
    EXPECT_NE(map.find("/relay 2/Health/InBackoff   Boolean\n"), std::string::npos) << map;

    auto refused = [&](const std::string& units, const std::string& why) {
        GatewayConfig r;
        const std::string e = LoadGatewayConfigText(WithUnits(units), r);
        EXPECT_NE(e.find(why), std::string::npos) << units << " -> " << e;
        EXPECT_EQ(e.rfind("line ", 0), 0u) << e;
    };
    refused("units = { YC4 = \"A\" }\n", "YC4, which is not a measurement (YCn) among the relay's items");
    refused("units = { YX1 = \"A\" }\n", "YX1, which is not a measurement");
    refused("units = { YC = \"A\" }\n", "not a measurement");
    refused("units = { YC1x = \"A\" }\n", "not a measurement");
    refused("units = { YC1 = \"amps\" }\n", "unknown unit \"amps\" for YC1; known: A, kA");
    // Case matters: megawatt and milliwatt must not be confused.
    refused("units = { YC1 = \"mw\" }\n", "unknown unit \"mw\"");
    refused("units = { YC1 = 5 }\n", "the unit of YC1 must be a text");
    refused("units = \"A\"\n", "'units' must be a table");

    // The unit id clients see is the code's characters packed.
    ASSERT_NE(FindEngUnit("kV"), nullptr);
    EXPECT_EQ(EngUnitId(*FindEngUnit("kV")), 0x4B5654);   // "KVT"
    EXPECT_EQ(EngUnitId(*FindEngUnit("%")), 0x5031);      // "P1"
    EXPECT_EQ(FindEngUnit("MW")->code, std::string("MAW"));
    EXPECT_EQ(FindEngUnit("mW"), nullptr);
}

class GatewayOpcuaEventsTest : public GatewayTest {
protected:
    void SetUp() override {
        if (!OpcuaBuilt()) GTEST_SKIP() << "vorlan-gateway was built without OPC UA (scripts/fetch-open62541.sh)";
        const std::string prefix = std::string(VORLAN_BINARY_DIR) + "/opcua-client";
        modules_ = prefix + "/node_modules";
        if (ReadFile(modules_ + "/node-opcua-client/package.json").find("\"version\": \"2.186.4\"") != std::string::npos) {
            return;
        }
        if (RunTool("sh -c 'command -v node && command -v npm'").code != 0) GTEST_SKIP() << "node or npm is not installed";
        const Result r = RunTool("npm install --prefix " + Quote(prefix) +
                                 " --no-audit --no-fund --loglevel=error node-opcua-client@2.186.4");
        if (r.code != 0) GTEST_SKIP() << "npm can't install node-opcua-client: " << r.output.substr(0, 400);
    }
    // Runs tests/gateway/opcua_subscribe.js with `plan` for `seconds`.
    nlohmann::json Watch(int seconds, const nlohmann::json& plan) {
        const Result r = vorlan_tools_test::RunToolStdout(
            "timeout " + std::to_string(seconds + 60) + " node " +
                Quote(std::string(VORLAN_SOURCE_DIR) + "/tests/gateway/opcua_subscribe.js") +
                " opc.tcp://127.0.0.1:" + std::to_string(opcuaPort_) + " " + std::to_string(seconds) + " " +
                Quote(plan.dump()),
            {"NODE_PATH=" + modules_});
        const size_t start = r.output.find("{\"clients\"");
        if (r.code != 0 || start == std::string::npos) {
            ADD_FAILURE() << "the client failed: " << r.output.substr(0, 2000);
            return nlohmann::json::object();
        }
        return nlohmann::json::parse(r.output.substr(start, r.output.find('\n', start) - start), nullptr, false);
    }
    std::string Opcua() {
        opcuaPort_ = FreePort();
        return "[opcua]\nanonymous = true\nport = " + std::to_string(opcuaPort_) + "\n";
    }

    std::string modules_;
    int opcuaPort_ = 0;
};

TEST_F(GatewayOpcuaEventsTest, StatusChangesAreEventsAndYxValuesAtTheRelaysTime) {
    const std::string port = StartSimulator("1", 0.6);
    StartGateway(Head("ua", "", "", "control_timeout_ms = 4000\n" + Opcua()) +
                 Line(port, "reply_timeout_ms = 300\n[[line.relay]]\naddress = 1\nname = \"feeder\"\n"
                            "items = [\"YC1-YC2\", \"YX1-YX32\", \"BWYX1-BWYX32\", \"BWYX10001-BWYX10032\"]\n"
                            "units = { YC1 = \"kV\" }\n"));
    ASSERT_TRUE(WaitFor(15, [&] { return Answered(1) > 0; })) << ReadFile(gatewayLog_);

    const std::string relay = "ns=1;s=Vorlan/ua/line1/feeder";
    constexpr double kDeadband = 700;
    nlohmann::json plan{{"clients", 1}, {"events", {relay, "i=2253"}}, {"read", {relay + "/YC1/EngineeringUnits",
                                                                              relay + "/YC2/EngineeringUnits"}}};
    plan["values"].push_back({{"nodeId", relay + "/YC1"}, {"deadband", 0}});
    plan["values"].push_back({{"nodeId", relay + "/YC1"}, {"deadband", kDeadband}});
    for (int p = 1; p <= 32; ++p) plan["values"].push_back({{"nodeId", relay + "/YX" + std::to_string(p)}});
    const nlohmann::json seen = Watch(15, plan);
    ASSERT_TRUE(seen.contains("clients")) << seen;
    const nlohmann::json& client = seen["clients"][0];

    // Each status change once on the relay's object and once on the Server object.
    const nlohmann::json& onRelay = client["events"][relay];
    const nlohmann::json& onServer = client["events"]["i=2253"];
    ASSERT_GE(onRelay.size(), 2u) << client["events"].dump(1) << ReadFile(gatewayLog_);
    EXPECT_EQ(onRelay, onServer);
    std::set<std::tuple<std::string, std::string, bool>> distinct;
    for (const nlohmann::json& e : onRelay) {
        EXPECT_EQ(e["EventType"], "ns=1;s=VorlanStatusChangeEventType") << e;
        EXPECT_EQ(e["SourceNode"], relay) << e;
        EXPECT_EQ(e["SourceName"], "ua/line1/feeder") << e;
        EXPECT_EQ(e["Relay"], "ua/line1/feeder") << e;
        EXPECT_EQ(e["Time"], e["RelayTime"]) << e;
        EXPECT_EQ(e["Severity"], 300) << e;
        EXPECT_TRUE(e["Value"].is_boolean()) << e;
        EXPECT_NE(e["Message"].get<std::string>().find(e["Point"].get<std::string>()), std::string::npos) << e;
        EXPECT_TRUE(distinct.insert(std::make_tuple(e["Point"].get<std::string>(), e["RelayTime"].get<std::string>(),
                                                    e["Value"].get<bool>())).second) << "twice: " << e;
    }

    // Each change shows on its YX variable with the relay's time as source
    // time, and the last change of each point is the value it is left at.
    std::map<std::string, nlohmann::json> last;
    for (const nlohmann::json& e : onRelay) {
        const std::string point = e["Point"];
        const nlohmann::json& changes = client["values"][relay + "/" + point + "|0"];
        bool shown = false;
        for (const nlohmann::json& v : changes) {
            shown = shown || (v["value"] == e["Value"] && v["sourceTimestamp"] == e["RelayTime"]);
        }
        EXPECT_TRUE(shown) << e << "\n" << changes;
        last[point] = e;
    }
    for (const auto& [point, e] : last) {
        const nlohmann::json& changes = client["values"][relay + "/" + point + "|0"];
        ASSERT_FALSE(changes.empty());
        EXPECT_EQ(changes.back()["value"], e["Value"]) << point << ": " << changes;
    }

    // The deadband passes exactly the changes beyond it from the last value
    // it passed: replay the unfiltered item's changes through that rule.
    const nlohmann::json& all = client["values"][relay + "/YC1|0"];
    const nlohmann::json& banded = client["values"][relay + "/YC1|" + std::to_string(static_cast<int>(kDeadband))];
    ASSERT_GE(all.size(), 3u) << all;
    ASSERT_FALSE(banded.empty());
    size_t from = 0;
    while (from < all.size() && all[from]["sourceTimestamp"] != banded[0]["sourceTimestamp"]) ++from;
    ASSERT_LT(from, all.size()) << all << "\n" << banded;
    std::vector<double> expected{all[from]["value"].get<double>()};
    for (size_t i = from + 1; i < all.size(); ++i) {
        const double v = all[i]["value"].get<double>();
        if (std::fabs(v - expected.back()) > kDeadband) expected.push_back(v);
    }
    std::vector<double> got;
    for (const nlohmann::json& v : banded) got.push_back(v["value"].get<double>());
    EXPECT_EQ(got, expected) << all;

    // The measurement given a unit carries it; the other has none.
    const nlohmann::json& unit = seen["read"][relay + "/YC1/EngineeringUnits"];
    EXPECT_EQ(unit["unitId"], 0x4B5654) << unit;
    EXPECT_EQ(unit["displayName"]["text"], "kV") << unit;
    EXPECT_EQ(unit["namespaceUri"], "http://www.opcfoundation.org/UA/units/un/cefact") << unit;
    EXPECT_EQ(seen["read"][relay + "/YC2/EngineeringUnits"], "BadNodeIdUnknown");

    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}

TEST_F(GatewayOpcuaEventsTest, TwentyClientsAtOnceAndASilentRelaysBackOff) {
    // Relay 2 answers a few times, then falls silent and is backed off.
    const std::string port = StartSimulator("1,2", 0.6, 0, [](vorlan_sim::SimConfig& c) { c.relays[1].silentAfter = 3; });
    // The driver backs silent relays off when its line settings say so.
    const std::string lines = dir_.path() + "/lines.ini";
    WriteFile(lines, "[default]\nsilent_backoff = on\nsilent_retry_max_s = 2\n");
    setenv("VORLAN_LINES", lines.c_str(), 1);
    StartGateway(Head("ua", "", "", "control_timeout_ms = 4000\n" + Opcua()) +
                 Line(port, "reply_timeout_ms = 200\n[[line.relay]]\naddress = 1\nname = \"feeder\"\n"
                            "items = [\"YC1-YC3\", \"YX1-YX32\", \"BWYX1-BWYX32\", \"BWYX10001-BWYX10032\"]\n"
                            "[[line.relay]]\naddress = 2\nname = \"bus\"\nitems = [\"YC1\"]\n"));
    unsetenv("VORLAN_LINES");
    ASSERT_TRUE(WaitFor(15, [&] { return Answered(1) > 0; })) << ReadFile(gatewayLog_);

    const std::string feeder = "ns=1;s=Vorlan/ua/line1/feeder", bus = "ns=1;s=Vorlan/ua/line1/bus";
    nlohmann::json plan{{"clients", 20}, {"events", {"i=2253"}}};
    for (const char* p : {"/YC1", "/YC2", "/YC3"}) plan["values"].push_back({{"nodeId", feeder + p}});
    plan["read"] = {feeder + "/Health/InBackoff", bus + "/Health/InBackoff", bus + "/Health/State",
                    bus + "/Health/Answers", bus + "/Health/Failures", bus + "/Health/SecondsSinceAnswer"};
    // The bus relay has been given up on by then.
    ASSERT_TRUE(WaitFor(20, [&] {
        return Answered(2) > 0 && SecondsSinceAnswer(2) >= 3;
    })) << ReadFile(gatewayLog_);
    const nlohmann::json seen = Watch(8, plan);
    ASSERT_TRUE(seen.contains("clients")) << seen;
    ASSERT_EQ(seen["clients"].size(), 20u);
    for (size_t c = 0; c < 20; ++c) {
        const nlohmann::json& client = seen["clients"][c];
        for (const char* p : {"/YC1", "/YC2", "/YC3"}) {
            // The value at the start, then at least one change.
            EXPECT_GE(client["values"][feeder + p + "|0"].size(), 2u) << "client " << c << p;
        }
        EXPECT_FALSE(client["events"]["i=2253"].empty()) << "client " << c;
    }

    const nlohmann::json& read = seen["read"];
    EXPECT_EQ(read[feeder + "/Health/InBackoff"], false) << read;
    EXPECT_EQ(read[bus + "/Health/InBackoff"], true) << read;
    EXPECT_EQ(read[bus + "/Health/State"], "backoff") << read;
    EXPECT_EQ(read[bus + "/Health/Answers"], 3) << read;
    EXPECT_GE(read[bus + "/Health/Failures"].get<long>(), 3) << read;
    EXPECT_GE(read[bus + "/Health/SecondsSinceAnswer"].get<long>(), 3) << read;

    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}
