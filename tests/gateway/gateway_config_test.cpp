// SPDX-License-Identifier: Apache-2.0
// The gateway's configuration, register map and control payloads, without
// a line: refusals name the file, the line and the key; the map puts every
// point where the README says; a control payload is taken only when whole.

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "control_payload.h"
#include "gateway_config.h"
#include "register_map.h"
#include "tool_process.h"

using namespace vorlan_gateway;

namespace {

const char kTwoLines[] = R"(name = "north/yard #2"
[driver]
library = "/nowhere/libvorlan.so"
[modbus]
port = 1600
word_order = "little"
[mqtt]
host = "127.0.0.1"
[[line]]
[line.channel]
port = "/dev/ttyS0"
[[line.relay]]
address = 1
items = ["YC1-YC4", "YX1-YX8", "YM2", "YK1-YK2"]
allow_control = true
[[line.relay]]
address = 2
items = ["YC1", "YK1"]
[[line]]
unit_base = 100
[line.channel]
port = "/dev/ttyS1"
[[line.relay]]
address = 1
items = ["YC1"]
)";

std::string Refusal(const std::string& text) {
    vorlan_tools_test::TempDir dir;
    const std::string path = dir.path() + "/gateway.toml";
    vorlan_tools_test::WriteFile(path, text);
    GatewayConfig c;
    const std::string e = LoadGatewayConfig(path, c);
    if (e.empty()) return "accepted";
    EXPECT_EQ(e.rfind(path + ": ", 0), 0u) << e;
    return e.substr(path.size() + 2);
}

}  // namespace

TEST(GatewayConfig, LinesRelaysAndSettingsAreRead) {
    GatewayConfig c;
    ASSERT_EQ(LoadGatewayConfigText(kTwoLines, c), "");
    ASSERT_EQ(c.lines.size(), 2u);
    EXPECT_EQ(c.lines[0].station.relays.size(), 2u);
    EXPECT_EQ(c.lines[0].allowControl, (std::vector<bool>{true, false}));
    EXPECT_EQ(c.lines[1].unitBase, 100);
    EXPECT_TRUE(c.modbus.wordsLittle);
    EXPECT_EQ(c.modbus.port, 1600);
    EXPECT_TRUE(c.mqtt.enabled);
    EXPECT_EQ(c.mqtt.topicStation, "north_yard__2");

    GatewayConfig sample;
    EXPECT_EQ(LoadGatewayConfig(VORLAN_SOURCE_DIR "/tools/gateway/gateway.toml", sample), "");
    EXPECT_EQ(LoadGatewayConfig(VORLAN_SOURCE_DIR "/tools/host/sample/station.toml", sample), "");

    // A plain station file of the commissioning host is one line.
    GatewayConfig plain;
    ASSERT_EQ(LoadGatewayConfigText("[channel]\nport = \"/dev/ttyS0\"\n[[relay]]\naddress = 3\nallow_control = true\n", plain), "");
    ASSERT_EQ(plain.lines.size(), 1u);
    EXPECT_EQ(plain.lines[0].allowControl, std::vector<bool>{true});
    EXPECT_FALSE(plain.mqtt.enabled);
    EXPECT_EQ(plain.modbus.listen, "127.0.0.1");
    EXPECT_EQ(plain.modbus.port, 1502);
}

TEST(GatewayConfig, MistakesAreRefusedWithFileLineAndKey) {
    const std::string line = "[[line]]\n[line.channel]\nport = \"/dev/ttyS0\"\n[[line.relay]]\naddress = 1\n";
    EXPECT_EQ(Refusal(line + "allow_contol = true\n"), "line 6: unknown key 'allow_contol' in [[relay]]");
    EXPECT_EQ(Refusal(line + "allow_control = \"yes\"\n"), "line 6: 'allow_control' must be true or false");
    EXPECT_EQ(Refusal("[modbus]\nword_order = \"middle\"\n" + line),
              "line 2: 'word_order' must be \"big\" or \"little\"");
    EXPECT_EQ(Refusal("[modbus]\nport = 70000\n" + line), "line 2: 'port' must be an integer from 1 to 65535");
    EXPECT_EQ(Refusal("[mqtt]\nhost = \"h\"\ncert_file = \"c\"\n" + line), "line 1: 'cert_file' and 'key_file' go together");
    EXPECT_EQ(Refusal("[mqtt]\nhots = \"h\"\n" + line), "line 2: unknown key 'hots' in [mqtt]");
    EXPECT_EQ(Refusal(line + "[[line]]\n[line.channel]\nport = \"/dev/ttyS1\"\n[[line.relay]]\naddress = 1\n"),
              "line 9: Modbus unit id 1 is used twice; give the lines different 'unit_base' values");
    EXPECT_EQ(Refusal(line + "[[line]]\n[line.channel]\nport = \"/dev/ttyS0\"\n[[line.relay]]\naddress = 2\n"),
              "line 6: the port /dev/ttyS0 is given to two lines");
    EXPECT_EQ(Refusal("[[line]]\n[line.channel]\nport = \"/dev/ttyS0\"\n[[line.relay]]\naddress = 0\n"),
              "line 4: relay address 0 with unit_base 0 gives Modbus unit id 0, outside 1..247; set 'unit_base' on its line");
    EXPECT_EQ(Refusal("[channel]\nport = \"/dev/ttyS0\"\n" + line),
              "line 3: write the lines either as [[line]] entries or as one [channel] with its [[relay]]s, not both");
    EXPECT_EQ(Refusal("name = \n").rfind("line 1: ", 0), 0u);
}

TEST(GatewayRegisterMap, PointsSitWhereTheMapSaysInEitherWordOrder) {
    GatewayConfig c;
    ASSERT_EQ(LoadGatewayConfigText(kTwoLines, c), "");
    auto relays = BuildRelayPoints(c);
    ASSERT_EQ(relays.size(), 3u);
    RelayPoints& r = *relays[0];
    EXPECT_EQ(r.unit, 1);
    EXPECT_EQ(relays[2]->unit, 101);
    EXPECT_TRUE(InMap(r, Table::InputRegisters, 0, 8));       // YC1-YC4
    EXPECT_FALSE(InMap(r, Table::InputRegisters, 0, 9));      // YC5 is not configured
    EXPECT_FALSE(InMap(r, Table::InputRegisters, 1000, 2));   // YM1 neither
    EXPECT_TRUE(InMap(r, Table::InputRegisters, 1002, 2));    // YM2
    EXPECT_TRUE(InMap(r, Table::InputRegisters, kQualityBase, kQualityRegisters));
    EXPECT_FALSE(InMap(r, Table::InputRegisters, kQualityBase + 11, 2));
    EXPECT_TRUE(InMap(r, Table::DiscreteInputs, 0, 8));
    EXPECT_FALSE(InMap(r, Table::DiscreteInputs, 7, 2));
    EXPECT_TRUE(InMap(r, Table::Coils, 1, 1));
    EXPECT_FALSE(InMap(r, Table::Coils, 2, 1));
    EXPECT_FALSE(InMap(*relays[1], Table::Coils, 0, 1));      // YK1 listed, control not allowed
    EXPECT_FALSE(InMap(r, Table::InputRegisters, 65535, 2));
    EXPECT_FALSE(InMap(r, Table::Coils, -1, 1));

    r.ycValue[1] = 1.5f;       // 0x3FC00000
    r.ymValue[1] = 0x12345678;
    r.health.answered = 7;
    uint16_t words[4] = {};
    FillInputRegisters(r, 2, 2, false, 0, words);
    EXPECT_EQ(words[0], 0x3FC0);
    EXPECT_EQ(words[1], 0x0000);
    FillInputRegisters(r, 2, 2, true, 0, words);
    EXPECT_EQ(words[0], 0x0000);
    EXPECT_EQ(words[1], 0x3FC0);
    FillInputRegisters(r, 1003, 1, false, 0, words);           // the low word alone
    EXPECT_EQ(words[0], 0x5678);
    FillInputRegisters(r, kQualityBase, 4, false, 0, words);
    EXPECT_EQ(words[1], 7);
    FillInputRegisters(r, kQualityBase + 4, 2, false, 0, words);   // never answered
    EXPECT_EQ(words[0], 0xFFFF);
    EXPECT_EQ(words[1], 0xFFFF);
    r.health.retryIntervalMs = 8000;   // left from a back-off that ended: not shown
    FillInputRegisters(r, kQualityBase + 10, 2, false, 0, words);
    EXPECT_EQ(words[1], 0);
    r.health.inBackoff = true;
    FillInputRegisters(r, kQualityBase + 10, 2, false, 0, words);
    EXPECT_EQ(words[0], 0);
    EXPECT_EQ(words[1], 8000);

    const std::string map = MapText(c);
    EXPECT_NE(map.find("unit 101: relay 1"), std::string::npos) << map;
    EXPECT_NE(map.find("YC1-YC4  at 0-7"), std::string::npos) << map;
    EXPECT_NE(map.find("YM2  at 1002-1003"), std::string::npos) << map;
    EXPECT_NE(map.find("YK1-YK2  at 0-1"), std::string::npos) << map;
}

TEST(GatewayControlPayload, OnlyAWholeControlIsTaken) {
    ControlPayload p;
    auto parse = [&p](const std::string& text) { return ParseControlPayload(text.data(), text.size(), p); };
    EXPECT_EQ(parse("close"), "");
    EXPECT_TRUE(p.close);
    EXPECT_EQ(parse("\"open\""), "");
    EXPECT_FALSE(p.close);
    EXPECT_EQ(parse(R"({"action":"close","id":"op-7"})"), "");
    EXPECT_TRUE(p.close);
    EXPECT_EQ(p.id, "op-7");

    for (const std::string bad : {"", "Close", "close ", "closed", "{}", R"({"action":"toggle"})", R"({"action":1})",
                                  R"({"action":"close","id":7})", R"({"action":"close","extra":1})", "[\"close\"]",
                                  R"({"action":"close","id":"a\u0001"})", "{\"action\":\"close\"", "\xff\xfe"}) {
        EXPECT_NE(parse(bad), "") << bad;
    }
    EXPECT_NE(parse(std::string(R"({"action":"close","id":")") + std::string(65, 'x') + "\"}"), "");
    EXPECT_NE(parse(std::string(2000, ' ') + "close"), "");
    EXPECT_NE(ParseControlPayload(nullptr, 5, p), "");

    EXPECT_EQ(ControlPointOf("YK1"), 1);
    EXPECT_EQ(ControlPointOf("YK64"), 64);
    for (const char* bad : {"YK0", "YK65", "YK01", "YK", "YC1", "YK1a", "yk1", "YK100"}) EXPECT_EQ(ControlPointOf(bad), 0) << bad;
}

TEST(GatewayTimes, UtcTextAgreesWithTheCalendar) {
    constexpr int64_t kUnixEpoch = 116444736000000000LL;
    EXPECT_EQ(IsoUtc(kUnixEpoch), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(IsoUtc(0), "1970-01-01T00:00:00.000Z");   // before 1970: the epoch, never garbage
    EXPECT_EQ(IsoUtc(kUnixEpoch + 951868799LL * 10000000 + 9990000), "2000-02-29T23:59:59.999Z");
    EXPECT_EQ(IsoUtc(kUnixEpoch + 951868800LL * 10000000), "2000-03-01T00:00:00.000Z");
    for (int64_t t = 0; t < 5000000000LL; t += 86399 * 397 + 13) {
        tm c{};
        const time_t s = static_cast<time_t>(t);
        gmtime_r(&s, &c);
        char want[96];
        std::snprintf(want, sizeof want, "%04d-%02d-%02dT%02d:%02d:%02d.000Z", c.tm_year + 1900, c.tm_mon + 1, c.tm_mday,
                      c.tm_hour, c.tm_min, c.tm_sec);
        ASSERT_EQ(IsoUtc(kUnixEpoch + t * 10000000), want) << t;
    }
}
