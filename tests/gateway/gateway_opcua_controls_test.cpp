// OPC UA controls and access: the [opcua] keys for users, certificates and
// limits, the password hashes, the one-control-per-relay desk, and the
// gateway as built against the simulator on a pseudo-terminal, called by
// node-opcua with and without a user, over secured channels.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "gateway_config.h"
#include "gateway_fixture.h"
#include "opcua_access.h"
#include "opcua_controls.h"
#include "opcua_server.h"
#include "relay_model.h"

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
allow_control = true
items = ["YC1", "YK1"]
)";

// "secret", as `openssl passwd -6 -salt abc secret` makes it.
const char kSecretHash[] =
    "$6$abc$IdWKNKTJEb8LxY7CGg8YBXlvtfZzFw7Mp/r6niK9YB2mdvgY..TKjv1T..8RadRt2qvUHYRLr/TsVArtr91iR1";

std::string Opcua(const std::string& keys) { return std::string(kBase) + "[opcua]\n" + keys; }

std::string Load(const std::string& text, GatewayConfig& c) { return LoadGatewayConfigText(text, c); }

std::string User(const std::string& name, bool operate, const std::string& hash = kSecretHash) {
    return "[[opcua.user]]\nname = \"" + name + "\"\npassword_hash = \"" + hash + "\"\nmay_operate = " +
           (operate ? "true" : "false") + "\n";
}

const char kSecured[] = "security = [\"Basic256Sha256-SignAndEncrypt\"]\ncertificate = \"/tmp/c.der\"\nkey = \"/tmp/k.der\"\n";

}  // namespace

TEST(GatewayOpcuaAccess, KeysDefaultsAndRefusals) {
    GatewayConfig c;
    // Nobody could log in: refused rather than started useless.
    EXPECT_NE(Load(Opcua(""), c).find("nobody can log in"), std::string::npos);

    ASSERT_EQ(Load(Opcua("anonymous = true\n"), c), "");
    EXPECT_TRUE(c.opcua.anonymous);
    EXPECT_EQ(c.opcua.maxSessions, 32);
    EXPECT_EQ(c.opcua.maxSubscriptions, 128);
    EXPECT_EQ(c.opcua.selectTimeoutS, 30);
    EXPECT_FALSE(c.opcua.trustAllClients);

    ASSERT_EQ(Load(Opcua("security = [\"None\", \"Basic256Sha256-Sign\", \"Aes128_Sha256_RsaOaep-SignAndEncrypt\"]\n"
                         "certificate = \"/tmp/c.der\"\nkey = \"/tmp/k.der\"\ntrust_all_clients = true\n"
                         "max_sessions = 4\nmax_subscriptions = 9\nselect_timeout_s = 5\n" +
                         User("op", true) + User("view", false)),
                   c),
              "");
    EXPECT_FALSE(c.opcua.anonymous);
    EXPECT_EQ(c.opcua.security.size(), 3u);
    ASSERT_EQ(c.opcua.users.size(), 2u);
    EXPECT_EQ(c.opcua.users[0].name, "op");
    EXPECT_TRUE(c.opcua.users[0].mayOperate);
    EXPECT_FALSE(c.opcua.users[1].mayOperate);
    EXPECT_EQ(c.opcua.maxSessions, 4);
    EXPECT_EQ(c.opcua.selectTimeoutS, 5);

    // Each refusal names what is wrong.
    const std::pair<std::string, std::string> refused[] = {
        {"security = [\"Basic256Sha256\"]\nanonymous = true\n", "'security'"},
        {"security = [\"Basic128Rsa15-Sign\"]\nanonymous = true\n", "'security'"},
        {"security = [\"None\", \"Basic256Sha256-Sign\"]\nanonymous = true\n", "needs 'certificate' and 'key'"},
        {std::string(kSecured) + User("op", true, "$1$abc$plainmd5"), "'password_hash'"},
        {std::string(kSecured) + User("op", true, "secret"), "'password_hash'"},
        {std::string(kSecured) + User("op", true) + User("op", false), "given twice"},
        {"anonymous = true\n" + User("op", true), "travel in clear"},
        {std::string(kSecured) + "anonymous = true\ntrusted_clients = \"/tmp\"\ntrust_all_clients = true\n",
         "exclude each other"},
        {std::string(kSecured) + "anonymous = true\nmax_sessions = 0\n", "'max_sessions'"},
        {std::string(kSecured) + "[[opcua.user]]\nname = \"x\"\npassword = \"y\"\n", "unknown key 'password'"},
    };
    for (const auto& [keys, why] : refused) {
        EXPECT_NE(Load(Opcua(keys), c).find(why), std::string::npos) << keys << " -> " << Load(Opcua(keys), c);
    }
}

TEST(GatewayOpcuaAccess, PasswordsAreCheckedAgainstTheirSha512Hash) {
    EXPECT_TRUE(OpcuaPasswordHashValid(kSecretHash));
    EXPECT_TRUE(OpcuaPasswordMatches(kSecretHash, "secret"));
    EXPECT_FALSE(OpcuaPasswordMatches(kSecretHash, "Secret"));
    EXPECT_FALSE(OpcuaPasswordMatches(kSecretHash, ""));
    EXPECT_FALSE(OpcuaPasswordMatches(kSecretHash, std::string("secret\0x", 8)));
    // With rounds, as mkpasswd -R makes it ("x").
    const char rounds[] = "$6$rounds=10000$saltsalt$BlEC2vxHYlhrhUhfBHpvxx2lBHwNhJYtpcY7g2BtmgXPJpcFuRAtNBYnQkhLjexkrGu2o."
                          "yzQgw/8.eBHd63.1";
    EXPECT_TRUE(OpcuaPasswordHashValid(rounds));
    EXPECT_TRUE(OpcuaPasswordMatches(rounds, "x"));
    // Other forms are never taken, not even as plain text.
    for (const char* bad : {"", "secret", "$5$abc$short", "$6$$", "$6$abc$", "$6$toolongsaltxxxxxx$x",
                            "$6$rounds=$abc$x", "$6$ab c$IdWKNKTJEb8LxY7CGg8YBXlvtfZzFw7Mp/r6niK9YB2mdvgY..TKjv1T..8RadRt2qv"
                            "UHYRLr/TsVArtr91iR1"}) {
        EXPECT_FALSE(OpcuaPasswordHashValid(bad)) << bad;
        EXPECT_FALSE(OpcuaPasswordMatches(bad, bad)) << bad;
    }
}

TEST(GatewayOpcuaAccess, CheckFindsUnusableFiles) {
    vorlan_tools_test::TempDir dir;
    GatewayConfig c;
    ASSERT_EQ(Load(Opcua("security = [\"Basic256Sha256-Sign\"]\nanonymous = true\ncertificate = \"" + dir.path() +
                         "/cert.der\"\nkey = \"/nonexistent/dir/key.der\"\ntrusted_clients = \"" + dir.path() +
                         "/none\"\n"),
                   c),
              "");
    std::vector<std::string> problems;
    CheckOpcuaAccess(c.opcua, problems);
    std::string all;
    for (const std::string& p : problems) all += p + "\n";
    EXPECT_NE(all.find("/nonexistent/dir/key.der is absent and can't be made"), std::string::npos) << all;
    EXPECT_NE(all.find("trusted_clients"), std::string::npos) << all;
    EXPECT_EQ(all.find("cert.der"), std::string::npos) << all;   // absent but can be made

    // Files that exist but are no certificate and key.
    WriteFile(dir.path() + "/cert.der", "not a certificate");
    WriteFile(dir.path() + "/key.der", "not a key");
    c.opcua.key = dir.path() + "/key.der";
    c.opcua.trustedClients.clear();
    problems.clear();
    CheckOpcuaAccess(c.opcua, problems);
    all.clear();
    for (const std::string& p : problems) all += p + "\n";
    if (OpcuaBuilt()) {
        EXPECT_NE(all.find("is not a certificate"), std::string::npos) << all;
        EXPECT_NE(all.find("is not a private key"), std::string::npos) << all;
    }
}

TEST(GatewayOpcuaControlDesk, OneControlPerRelayAndOperateOnlyWhatWasSelected) {
    using Clock = ControlDesk::Clock;
    ControlDesk desk(std::chrono::seconds(30));
    RelayPoints a, b;
    const auto now = Clock::now();
    bool run = false;
    const uint32_t kGood = 0, kInvalidState = 0x80AF0000u;
    // Operate without a select, or one of another session, point or way: refused.
    EXPECT_EQ(desk.Begin(&a, 3, true, ControlStep::Operate, "s1", now, run), kInvalidState);
    EXPECT_FALSE(run);
    EXPECT_EQ(desk.Begin(&a, 3, true, ControlStep::Select, "s1", now, run), kGood);
    EXPECT_FALSE(run);
    EXPECT_EQ(desk.Begin(&a, 3, true, ControlStep::Select, "s2", now, run), kInvalidState);
    EXPECT_EQ(desk.Begin(&a, 4, true, ControlStep::SelectAndOperate, "s2", now, run), kInvalidState);
    EXPECT_EQ(desk.Begin(&a, 3, true, ControlStep::Operate, "s2", now, run), kInvalidState);
    EXPECT_EQ(desk.Begin(&a, 3, false, ControlStep::Operate, "s1", now, run), kInvalidState);
    EXPECT_EQ(desk.Begin(&a, 4, true, ControlStep::Operate, "s1", now, run), kInvalidState);
    EXPECT_EQ(desk.Begin(&a, 3, true, ControlStep::Cancel, "s2", now, run), kInvalidState);
    // Another relay is free meanwhile.
    EXPECT_EQ(desk.Begin(&b, 1, false, ControlStep::SelectAndOperate, "s2", now, run), kGood);
    EXPECT_TRUE(run);
    // The selection's own operate runs; while it runs nothing else does.
    EXPECT_EQ(desk.Begin(&a, 3, true, ControlStep::Operate, "s1", now, run), kGood);
    EXPECT_TRUE(run);
    EXPECT_EQ(desk.Begin(&a, 3, true, ControlStep::Operate, "s1", now, run), kInvalidState);
    EXPECT_EQ(desk.Begin(&a, 5, true, ControlStep::Select, "s1", now, run), kInvalidState);
    EXPECT_EQ(desk.Begin(&a, 3, true, ControlStep::Cancel, "s1", now, run), kInvalidState);
    desk.Finish(&a);
    // Finished: the selection is used up.
    EXPECT_EQ(desk.Begin(&a, 3, true, ControlStep::Operate, "s1", now, run), kInvalidState);

    // Cancel drops the caller's selection; cancelling nothing is fine.
    EXPECT_EQ(desk.Begin(&a, 2, false, ControlStep::Select, "s1", now, run), kGood);
    EXPECT_EQ(desk.Begin(&a, 2, false, ControlStep::Cancel, "s1", now, run), kGood);
    EXPECT_EQ(desk.Begin(&a, 2, false, ControlStep::Operate, "s1", now, run), kInvalidState);
    EXPECT_EQ(desk.Begin(&a, 2, false, ControlStep::Cancel, "s1", now, run), kGood);

    // A selection runs out, and then another session may take the relay.
    EXPECT_EQ(desk.Begin(&a, 2, false, ControlStep::Select, "s1", now, run), kGood);
    const auto later = now + std::chrono::seconds(31);
    EXPECT_EQ(desk.Begin(&a, 2, false, ControlStep::Operate, "s1", later, run), kInvalidState);
    EXPECT_EQ(desk.Begin(&a, 2, true, ControlStep::SelectAndOperate, "s2", later, run), kGood);
    EXPECT_TRUE(run);
}

TEST(GatewayOpcuaControlDesk, OutcomesBecomeStatusCodes) {
    EXPECT_EQ(OpcuaControlStatus(ControlResult::Done), 0u);
    EXPECT_EQ(OpcuaControlStatus(ControlResult::TimedOut), 0x800A0000u);        // BadTimeout
    EXPECT_EQ(OpcuaControlStatus(ControlResult::Failed), 0x80050000u);          // BadCommunicationError
    EXPECT_EQ(OpcuaControlStatus(ControlResult::LineDown), 0x80050000u);
    EXPECT_EQ(OpcuaControlStatus(ControlResult::Refused), 0x80AF0000u);         // BadInvalidState
    EXPECT_EQ(OpcuaControlStatus(ControlResult::Stopping), 0x800C0000u);        // BadShutdown
}

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class GatewayOpcuaControls : public GatewayTest {
protected:
    // node-opcua's client in the build folder (the same pinned version the other OPC UA tests use).
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

    // Runs the client with `options` (its JSON); the parsed answer, null when it failed.
    nlohmann::json Client(nlohmann::json options) {
        options["pki"] = dir_.path() + "/client-pki";
        const Result r = vorlan_tools_test::RunToolStdout(
            "timeout 120 node " + Quote(std::string(VORLAN_SOURCE_DIR) + "/tests/gateway/opcua_control_client.js") +
                " opc.tcp://127.0.0.1:" + std::to_string(opcuaPort_) + " " + Quote(options.dump()),
            {"NODE_PATH=" + modules_});
        const size_t start = r.output.find("{\"ok\"");
        if (start == std::string::npos) {
            ADD_FAILURE() << r.output;
            return nullptr;
        }
        return nlohmann::json::parse(r.output.substr(start, r.output.find('\n', start) - start), nullptr, false);
    }
    static nlohmann::json Call(const std::string& object, const std::string& method,
                               nlohmann::json args = nlohmann::json::array()) {
        return {{"object", object}, {"method", method}, {"args", args}};
    }
    static nlohmann::json Action(const char* action) { return nlohmann::json::array({{"String", action}}); }
    // One session of `user` (password "secret") over Basic256Sha256, SignAndEncrypt, running `groups`.
    nlohmann::json As(const std::string& user, nlohmann::json groups, const std::string& password = "secret") {
        return Client({{"policy", "Basic256Sha256"}, {"mode", "SignAndEncrypt"}, {"user", user},
                       {"password", password}, {"calls", groups}});
    }

    // `trust`: the keys for the client certificates trusted.
    std::string Config(const std::string& trust = "trust_all_clients = true\n") {
        opcuaPort_ = FreePort();
        return Head("ua", "", "",
                    "control_timeout_ms = 3000\naudit_file = \"" + dir_.path() + "/audit.log\"\n") +
               "[opcua]\nport = " + std::to_string(opcuaPort_) +
               "\nsecurity = [\"None\", \"Basic256Sha256-SignAndEncrypt\", \"Aes128_Sha256_RsaOaep-Sign\"]\n"
               "certificate = \"" + dir_.path() + "/pki/gateway.der\"\nkey = \"" + dir_.path() +
               "/pki/gateway.key\"\n" + trust + User("operator", true) + User("viewer", false);
    }

    std::string modules_;
    int opcuaPort_ = 0;
};

const std::string kFeeder = "ns=1;s=Vorlan/ua/line1/feeder/";
const std::string kQuiet = "ns=1;s=Vorlan/ua/line1/quiet/";

}  // namespace

TEST_F(GatewayOpcuaControls, MethodsRunControlsForPermittedUsersOnly) {
    if (!OpcuaBuilt()) GTEST_SKIP() << "vorlan-gateway was built without OPC UA (scripts/fetch-open62541.sh)";
    if (const std::string why = InstallClient(modules_); !why.empty()) GTEST_SKIP() << why;

    const std::string port = StartSimulator("1,2", 0);
    vorlan_sim::RelayModel* feeder = sim_->relays().Find(1);
    vorlan_sim::RelayModel* quiet = sim_->relays().Find(2);
    ASSERT_TRUE(feeder && quiet);
    ASSERT_EQ(mkdir((dir_.path() + "/pki").c_str(), 0700), 0);
    // YK40 is beyond the simulated relay's 32 control points: it refuses that select.
    StartGateway(Config() + Line(port, "reply_timeout_ms = 300\n"
                                       "[[line.relay]]\naddress = 1\nname = \"feeder\"\nallow_control = true\n"
                                       "items = [\"YC1\", \"YK1-YK4\", \"YK40\"]\n"
                                       "[[line.relay]]\naddress = 2\nname = \"quiet\"\nallow_control = true\n"
                                       "items = [\"YC1\", \"YK1\"]\n"));
    ASSERT_TRUE(WaitFor(20, [&] { return Answered(1) > 0 && Answered(2) > 0; })) << ReadFile(gatewayLog_);

    // The certificate was made at the start and kept.
    const std::string cert = ReadFile(dir_.path() + "/pki/gateway.der");
    ASSERT_FALSE(cert.empty()) << ReadFile(gatewayLog_);
    struct stat st {};
    ASSERT_EQ(stat((dir_.path() + "/pki/gateway.key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);

    // Select, execute and confirmation in one call: one control at the relay.
    nlohmann::json r = As("operator", {{Call(kFeeder + "YK1", "SelectAndOperate", Action("close"))}});
    ASSERT_TRUE(r.is_object() && r["ok"] == true) << r << ReadFile(gatewayLog_);
    EXPECT_EQ(r["results"][0][0], "Good") << ReadFile(gatewayLog_);
    EXPECT_EQ(feeder->controlsExecuted(), 1u);
    EXPECT_TRUE(feeder->Input(0));

    // Select then Operate, in one session; the operate must match the select.
    r = As("operator", {{Call(kFeeder + "YK2", "Select", Action("close"))},
                        {Call(kFeeder + "YK2", "Operate", Action("open"))},
                        {Call(kFeeder + "YK3", "Operate", Action("close"))},
                        {Call(kFeeder + "YK2", "Operate", Action("close"))},
                        {Call(kFeeder + "YK3", "Select", Action("open"))},
                        {Call(kFeeder + "YK3", "Cancel")},
                        {Call(kFeeder + "YK3", "Operate", Action("open"))}});
    ASSERT_TRUE(r.is_object() && r["ok"] == true) << r;
    EXPECT_EQ(r["results"], nlohmann::json::parse(R"([["Good"], ["BadInvalidState"], ["BadInvalidState"], ["Good"],
                                                       ["Good"], ["Good"], ["BadInvalidState"]])"));
    EXPECT_EQ(feeder->controlsExecuted(), 2u);

    // Arguments of the wrong number or type, or an unknown action: the protocol's errors, nothing sent.
    uint64_t selects = feeder->selectsReceived();
    r = As("operator", {{Call(kFeeder + "YK1", "SelectAndOperate"),
                         Call(kFeeder + "YK1", "SelectAndOperate", nlohmann::json::array({{"Int32", 1}})),
                         Call(kFeeder + "YK1", "SelectAndOperate", nlohmann::json::array({{"String", "close"}, {"String", "open"}})),
                         Call(kFeeder + "YK1", "SelectAndOperate", Action("sideways")),
                         Call(kFeeder + "YK1", "Cancel", Action("close"))}});
    ASSERT_TRUE(r.is_object() && r["ok"] == true) << r;
    EXPECT_EQ(r["results"][0], nlohmann::json::parse(R"(["BadArgumentsMissing", "BadInvalidArgument",
        "BadTooManyArguments", "BadInvalidArgument", "BadTooManyArguments"])"));
    EXPECT_EQ(feeder->selectsReceived(), selects);

    // Two at once on one relay: one runs, the other is told the relay is busy.
    r = As("operator", {{Call(kFeeder + "YK3", "SelectAndOperate", Action("close")),
                         Call(kFeeder + "YK4", "SelectAndOperate", Action("close"))}});
    ASSERT_TRUE(r.is_object() && r["ok"] == true) << r;
    const nlohmann::json both = r["results"][0];
    EXPECT_EQ(Count(both.dump(), "\"Good\""), 1u) << both;
    EXPECT_EQ(Count(both.dump(), "\"BadInvalidState\""), 1u) << both;
    EXPECT_EQ(feeder->controlsExecuted(), 3u);

    // A user without may_operate: refused before anything reaches the line.
    selects = feeder->selectsReceived();
    r = As("viewer", {{Call(kFeeder + "YK1", "SelectAndOperate", Action("open"))},
                      {Call(kFeeder + "YK1", "Select", Action("open"))}});
    ASSERT_TRUE(r.is_object() && r["ok"] == true) << r;
    EXPECT_EQ(r["results"], nlohmann::json::parse(R"([["BadRequestNotAllowed"], ["BadRequestNotAllowed"]])"));
    EXPECT_EQ(feeder->selectsReceived(), selects);
    EXPECT_EQ(feeder->controlsExecuted(), 3u);

    // The relay refuses the point, which the driver takes as a failed exchange:
    // answered as such, the control cancelled, and the next one goes through.
    r = As("operator", {{Call(kFeeder + "YK40", "SelectAndOperate", Action("close"))},
                        {Call(kFeeder + "YK2", "SelectAndOperate", Action("open"))}});
    ASSERT_TRUE(r.is_object() && r["ok"] == true) << r;
    EXPECT_EQ(r["results"][0][0], "BadCommunicationError") << ReadFile(gatewayLog_);
    EXPECT_EQ(r["results"][1][0], "Good") << ReadFile(gatewayLog_);
    EXPECT_EQ(feeder->controlsExecuted(), 4u);
    // A relay that stopped answering: no confirmation, and the control is cancelled.
    quiet->SwitchOff(true);
    r = As("operator", {{Call(kQuiet + "YK1", "SelectAndOperate", Action("close"))}});
    ASSERT_TRUE(r.is_object() && r["ok"] == true) << r;
    const std::string quietStatus = r["results"][0][0];
    EXPECT_TRUE(quietStatus == "BadTimeout" || quietStatus == "BadCommunicationError") << quietStatus;
    EXPECT_EQ(quiet->controlsExecuted(), 0u);
    EXPECT_EQ(feeder->controlsExecuted(), 4u);

    // Wrong password and anonymous (off): no session.
    r = As("operator", nlohmann::json::array(), "wrong");
    ASSERT_TRUE(r.is_object()) << r;
    EXPECT_EQ(r["ok"], false) << r;
    r = As("nobody", nlohmann::json::array());
    ASSERT_TRUE(r.is_object()) << r;
    EXPECT_EQ(r["ok"], false) << r;
    r = Client({{"calls", nlohmann::json::array()}});
    ASSERT_TRUE(r.is_object()) << r;
    EXPECT_EQ(r["ok"], false) << r;

    // Every control and refusal has its audit line, naming the user.
    const std::string audit = ReadFile(dir_.path() + "/audit.log");
    // YK1; four in the select/operate session; the pair; YK40 and YK2; the quiet relay.
    EXPECT_EQ(Count(audit, "source=\"opcua operator"), 1u + 4u + 2u + 2u + 1u) << audit;
    EXPECT_EQ(Count(audit, "source=\"opcua viewer"), 2u) << audit;
    EXPECT_GE(Count(audit, "outcome=refused"), 5u) << audit;
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);

    // Restarted with a trust list that lacks the client's certificate: no secured session.
    const std::string relays = "[[line.relay]]\naddress = 1\nname = \"feeder\"\nallow_control = true\n"
                               "items = [\"YC1\", \"YK1-YK4\"]\n";
    const std::string trusted = dir_.path() + "/trusted";
    ASSERT_EQ(mkdir(trusted.c_str(), 0700), 0);
    WriteFile(trusted + "/other.der", cert);
    const nlohmann::json open = {{"policy", "Aes128_Sha256_RsaOaep"}, {"mode", "Sign"}, {"user", "operator"},
                                 {"password", "secret"},
                                 {"calls", {{Call(kFeeder + "YK1", "SelectAndOperate", Action("open"))}}}};
    StartGateway(Config("trusted_clients = \"" + trusted + "\"\nanonymous = true\n") + Line(port, relays), "untrusted");
    ASSERT_TRUE(WaitFor(20, [&] { return Answered(1) > 0; })) << ReadFile(gatewayLog_);
    r = Client(open);
    ASSERT_TRUE(r.is_object()) << r;
    EXPECT_EQ(r["ok"], false) << r;
    // Anonymous sessions, now allowed on the None endpoint, still never operate.
    selects = feeder->selectsReceived();
    r = Client({{"calls", {{Call(kFeeder + "YK1", "SelectAndOperate", Action("open")),
                            Call(kFeeder + "YK2", "Select", Action("open"))}}}});
    ASSERT_TRUE(r.is_object() && r["ok"] == true) << r;
    EXPECT_EQ(r["results"][0], nlohmann::json::parse(R"(["BadRequestNotAllowed", "BadRequestNotAllowed"])"));
    EXPECT_EQ(feeder->selectsReceived(), selects);
    // Nor may any session edit the address space.
    r = Client({{"calls", {{{{"delete", kFeeder + "YC1"}}, {{"delete", kFeeder + "YK1"}}}, {{{"read", kFeeder + "YC1"}}}}}});
    ASSERT_TRUE(r.is_object() && r["ok"] == true) << r;
    EXPECT_EQ(r["results"], nlohmann::json::parse(R"([["BadUserAccessDenied", "BadUserAccessDenied"], ["Good"]])"));
    EXPECT_TRUE(feeder->Input(0));
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);

    // With it trusted, the other policy works, and the certificate made at the first start is kept.
    WriteFile(trusted + "/client.pem", ReadFile(dir_.path() + "/client-pki/own/certs/client_certificate.pem"));
    StartGateway(Config("trusted_clients = \"" + trusted + "\"\n") + Line(port, relays), "trusted");
    ASSERT_TRUE(WaitFor(20, [&] { return Answered(1) > 0; })) << ReadFile(gatewayLog_);
    r = Client(open);
    ASSERT_TRUE(r.is_object() && r["ok"] == true) << r << ReadFile(gatewayLog_);
    EXPECT_EQ(r["results"][0][0], "Good");
    EXPECT_FALSE(feeder->Input(0));
    EXPECT_EQ(ReadFile(dir_.path() + "/pki/gateway.der"), cert);
    r = As("operator", {{{{"delete", kFeeder + "YC1"}}}});
    ASSERT_TRUE(r.is_object() && r["ok"] == true) << r;
    EXPECT_EQ(r["results"][0][0], "BadUserAccessDenied") << r;
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}
