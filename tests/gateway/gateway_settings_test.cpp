// Settings met at start: listen addresses in every form, what can't be bound
// refused with the reason, --check and --map finding mistakes without
// opening a port, and MQTT faults (TLS above all) that are logged and
// retried while Modbus goes on.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "gateway_fixture.h"

using namespace vorlan_gateway_test;

namespace {

using Clock = std::chrono::steady_clock;

const char kRelay[] = "[[line.relay]]\naddress = 1\nitems = [\"YC1\"]\n";

// A listening socket on 127.0.0.1:`port` that never accepts: connections
// complete and then hear nothing.
int Hold(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 8) != 0) {
        close(s);
        return -1;
    }
    return s;
}

bool HasIpv6Loopback() {
    const int s = Connect("::1", 9);   // refused or not, the address must exist
    if (s >= 0) close(s);
    const int t = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool ok = t >= 0 && bind(t, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (t >= 0) close(t);
    return ok;
}

class GatewaySettings : public GatewayTest {
protected:
    std::string Config(const std::string& modbus, const std::string& extra = "") {
        return Head("settings", "", modbus) + extra + Line(dir_.path() + "/p", kRelay);
    }
    // Runs the gateway to its end (it is expected to stop by itself).
    Result RunGateway(const std::string& config, const std::string& options = "") {
        const std::string path = dir_.path() + "/once.toml";
        WriteFile(path, config);
        return RunTool("timeout 20 " + vorlan_tools_test::ToolPath("vorlan-gateway") + " " + options + " -c " + Quote(path));
    }
    // True when the quality block of unit 1 answers on `host`.
    bool Serves(const std::string& host) {
        const int s = Connect(host, modbusPort_);
        if (s < 0) return false;
        const bool ok = SendBytes(s, Frame(1, 1, {4, 0x07, 0xD0, 0, 2})) && ReadFrame(s, 2000).size() == 13;
        close(s);
        return ok;
    }
    // Stops the gateway; false when SIGTERM took 2 s or more.
    bool StopsInTime() {
        const auto start = Clock::now();
        const int code = gateway_->Stop(SIGTERM);
        return code == 0 && Clock::now() - start < std::chrono::seconds(2);
    }
};

}  // namespace

TEST_F(GatewaySettings, ListenTakesNamesAndBothFamiliesAndRefusesWhatItCantBind) {
    StartGateway(Config("listen = \"localhost\"\n"), "name");
    EXPECT_TRUE(WaitFor(5, [&] { return Serves("127.0.0.1"); })) << ReadFile(gatewayLog_);
    EXPECT_TRUE(StopsInTime());
    if (HasIpv6Loopback()) {
        StartGateway(Config("listen = \"::1\"\n"), "v6");
        EXPECT_TRUE(WaitFor(5, [&] { return Serves("::1"); })) << ReadFile(gatewayLog_);
        EXPECT_FALSE(Serves("127.0.0.1"));
        EXPECT_TRUE(StopsInTime());
    }

    const Result typo = RunGateway(Config("listen = \"no-such-host.invalid\"\n"));
    EXPECT_EQ(typo.code, 1);
    EXPECT_NE(typo.output.find("'no-such-host.invalid' can't be resolved"), std::string::npos) << typo.output;
    const int held = Hold(FreePort());
    ASSERT_GE(held, 0);
    sockaddr_in a{};
    socklen_t size = sizeof a;
    getsockname(held, reinterpret_cast<sockaddr*>(&a), &size);
    std::string config = Config("");
    config.replace(config.find("port = " + std::to_string(modbusPort_)), 7 + std::to_string(modbusPort_).size(),
                   "port = " + std::to_string(ntohs(a.sin_port)));
    const Result taken = RunGateway(config);
    EXPECT_EQ(taken.code, 1);
    EXPECT_NE(taken.output.find("Address already in use"), std::string::npos) << taken.output;
    close(held);
}

TEST_F(GatewaySettings, CheckAndMapFindMistakesWithoutOpeningPorts) {
    mqttPort_ = FreePort();
    const std::string bad = Head("check", "ca_file = \"" + dir_.path() + "/no-ca.pem\"\n", "listen = \"no-such-host.invalid\"\n",
                                 "audit_file = \"/no/such/dir/audit.log\"\n") +
                            Line(dir_.path() + "/p", "[[line.relay]]\naddress = 1\nitems = [\"YC1\", \"QQ7\"]\n");
    for (const char* option : {"--check", "--map"}) {
        const Result r = RunGateway(bad, option);
        EXPECT_EQ(r.code, 1) << option;
        for (const char* problem : {"'QQ7'", "no-such-host.invalid", "ca_file", "audit_file"}) {
            EXPECT_NE(r.output.find(problem), std::string::npos) << option << " " << problem << "\n" << r.output;
        }
    }
    std::string unknown = Config("");
    unknown.replace(unknown.find("library = "), 9, "progid = \"No.Such.Driver\"\n#");
    const Result noDriver = RunGateway(unknown, "--check");
    EXPECT_EQ(noDriver.code, 1);
    EXPECT_NE(noDriver.output.find("driver: "), std::string::npos) << noDriver.output;

    // A usable configuration passes even while its port is taken: nothing is bound.
    const std::string good = Config("");
    const int held = Hold(modbusPort_);
    const Result check = RunGateway(good, "--check");
    EXPECT_EQ(check.code, 0) << check.output;
    const Result map = RunGateway(good, "--map");
    EXPECT_EQ(map.code, 0) << map.output;
    EXPECT_NE(map.output.find("exception 11"), std::string::npos);
    close(held);
    const Result version = RunTool(vorlan_tools_test::ToolPath("vorlan-gateway") + " --version");
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.output.rfind("vorlan-gateway ", 0), 0u) << version.output;
}

TEST_F(GatewaySettings, MqttFaultsAreLoggedWithTheCauseAndModbusGoesOn) {
    const std::string d = dir_.path();
    const Result made = RunTool("sh -c " + Quote(
        "cd " + Quote(d) + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=test-ca"
        " && openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=localhost"
        " && printf 'subjectAltName=DNS:localhost\\n' > ext.cnf"
        " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile ext.cnf"
        // mosquitto reads them after dropping its privileges
        " && chmod 755 . && chmod 644 *"));
    ASSERT_EQ(made.code, 0) << made.output;
    WriteFile(d + "/garbage.pem", "not a certificate\n");
    const int tlsPort = FreePort();
    WriteFile(d + "/tls.conf", "listener " + std::to_string(tlsPort) + " 127.0.0.1\ncafile " + d + "/ca.pem\ncertfile " + d +
                                   "/server.pem\nkeyfile " + d + "/server.key\nallow_anonymous true\n");
    Background broker("mosquitto -c " + Quote(d + "/tls.conf"), d + "/tls.log");
    ASSERT_TRUE(WaitFor(5, [&] {
        const int s = Connect("127.0.0.1", tlsPort);
        if (s >= 0) close(s);
        return s >= 0;
    })) << ReadFile(d + "/tls.log");
    const int silentPort = FreePort();
    const int silent = Hold(silentPort);

    struct Case {
        const char* name;
        std::string host, ca;
        int port;
        const char* logged;
    };
    const std::vector<Case> cases = {
        {"good", "localhost", d + "/ca.pem", tlsPort, "MQTT: connected"},
        {"mismatch", "127.0.0.1", d + "/ca.pem", tlsPort, "certificate verify failed"},
        {"bad-ca", "localhost", d + "/garbage.pem", tlsPort, "MQTT: "},
        {"missing-ca", "localhost", d + "/missing.pem", tlsPort, "TLS settings refused"},
        {"unreachable", "127.0.0.1", d + "/ca.pem", FreePort(), "Connection refused"},
        {"silent", "127.0.0.1", d + "/ca.pem", silentPort, ""},
    };
    for (const Case& c : cases) {
        mqttPort_ = c.port;
        std::string config = Head(c.name, "ca_file = \"" + c.ca + "\"\n") + Line(d + "/p", kRelay);
        config.replace(config.find("host = \"127.0.0.1\""), 18, "host = \"" + c.host + "\"");
        StartGateway(config, c.name);
        EXPECT_TRUE(WaitFor(5, [&] { return Serves("127.0.0.1"); })) << c.name << ReadFile(gatewayLog_);
        EXPECT_TRUE(WaitFor(5, [&] { return ReadFile(gatewayLog_).find(c.logged) != std::string::npos; }))
            << c.name << "\n" << ReadFile(gatewayLog_);
        EXPECT_TRUE(gateway_->running()) << c.name;
        EXPECT_TRUE(StopsInTime()) << c.name << "\n" << ReadFile(gatewayLog_);
    }
    close(silent);
}
