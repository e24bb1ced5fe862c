// The status page in a real headless Chromium: every line and relay with its
// state, and a relay that falls silent shown as such once the page reloads.

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "gateway_fixture.h"

using namespace vorlan_gateway_test;

namespace {

bool HaveChromium() {
    if (RunTool("sh -c \"command -v chromium\"").code == 0) return true;
    if (geteuid() == 0) {
        RunTool("DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends chromium");
    }
    return RunTool("sh -c \"command -v chromium\"").code == 0;
}

// The table row of the relay with `unit` in the page.
std::string Row(const std::string& page, int unit) {
    const size_t at = page.find("id=\"relay-" + std::to_string(unit) + "\"");
    if (at == std::string::npos) return {};
    return page.substr(at, page.find("</tr>", at) - at);
}

}  // namespace

TEST_F(GatewayTest, StatusPageShowsEveryLineAndARelayThatFallsSilent) {
    if (!HaveChromium()) GTEST_SKIP() << "chromium can't be installed here";
    const std::string port = StartSimulator("1,2", 0, 0, [](vorlan_sim::SimConfig& c) { c.relays[1].silentAfter = 15; });
    const int http = FreePort();
    StartGateway(Head("page") + "[status]\nlisten = \"127.0.0.1:" + std::to_string(http) + "\"\nrefresh_s = 2\n" +
                 Line(port, "[[line.relay]]\naddress = 1\nname = \"feeder <1>\"\nitems = [\"YC1-YC2\", \"YX1-YX4\"]\n"
                            "[[line.relay]]\naddress = 2\nitems = [\"YC1\"]\n") +
                 Line(dir_.path() + "/gone", "[[line.relay]]\naddress = 3\nitems = [\"YC1\"]\n", 10));
    httplib::Client client("127.0.0.1", http);
    auto state = [&](size_t line, size_t relay) {
        const auto r = client.Get("/status.json");
        if (!r || r->status != 200) return std::string();
        const auto j = nlohmann::json::parse(r->body, nullptr, false);
        if (j.is_discarded() || j["lines"].size() <= line || j["lines"][line]["relays"].size() <= relay) return std::string();
        return j["lines"][line]["relays"][relay].value("state", "");
    };
    ASSERT_TRUE(WaitFor(15, [&] { return state(0, 0) == "ok" && state(0, 1) == "ok"; })) << ReadFile(gatewayLog_);

    const std::string url = "http://127.0.0.1:" + std::to_string(http) + "/";
    const std::string page = Chromium(url, dir_.path() + "/profile1");
    ASSERT_NE(page.find("<h1>vorlan-gateway page</h1>"), std::string::npos) << page;
    EXPECT_NE(page.find("http-equiv=\"refresh\" content=\"2\""), std::string::npos);
    EXPECT_NE(Row(page, 1).find("class=\"state ok\""), std::string::npos) << Row(page, 1);
    EXPECT_NE(Row(page, 1).find("feeder &lt;1&gt;"), std::string::npos);
    EXPECT_NE(Row(page, 1).find("YC1="), std::string::npos);
    EXPECT_NE(Row(page, 2).find("class=\"state ok\""), std::string::npos) << Row(page, 2);
    EXPECT_NE(page.find(">port missing</span>"), std::string::npos);
    EXPECT_NE(Row(page, 13).find("no-answer"), std::string::npos) << Row(page, 13);
    EXPECT_NE(page.find("MQTT is off"), std::string::npos);

    // Relay 2 falls silent: the gateway marks it, and the next load of the page shows it.
    ASSERT_TRUE(WaitFor(30, [&] { return state(0, 1) == "stale"; }))
        << ReadFile(gatewayLog_) << client.Get("/status.json")->body;
    const std::string later = Chromium(url, dir_.path() + "/profile2");
    EXPECT_NE(Row(later, 2).find("class=\"state stale\""), std::string::npos) << Row(later, 2);
    EXPECT_NE(Row(later, 1).find("class=\"state ok\""), std::string::npos) << Row(later, 1);
    // The line's warning names the silent relay.
    EXPECT_NE(ReadFile(gatewayLog_).find("relay 2 stopped answering"), std::string::npos) << ReadFile(gatewayLog_);

    const std::string shot = std::string(VORLAN_BINARY_DIR) + "/gateway-status-page.png";
    Chromium(url, dir_.path() + "/profile3", shot);
    EXPECT_GT(ReadFile(shot).size(), 1000u);
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}
