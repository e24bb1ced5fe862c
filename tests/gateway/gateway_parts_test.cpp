// The gateway's parts that need no line: Modbus TCP framing, which reads the
// quality of the values allows, the audit line's quoting, listen texts and
// the open-file limit it plans.

#include <gtest/gtest.h>

#include <vector>

#include "audit_log.h"
#include "config_check.h"
#include "gateway_config.h"
#include "mbap.h"
#include "register_map.h"

using namespace vorlan_gateway;

TEST(GatewayFraming, HeadersAreCheckedBeforeTheFrameIsWhole) {
    const std::vector<uint8_t> two{0, 1, 0, 0, 0, 6, 1, 4, 0, 0, 0, 2, 0, 2, 0, 0, 0, 2, 1, 1};
    size_t size = 0;
    EXPECT_EQ(CheckMbap(two.data(), 5, size), FrameState::NeedMore);
    EXPECT_EQ(CheckMbap(two.data(), 11, size), FrameState::NeedMore);
    EXPECT_EQ(CheckMbap(two.data(), two.size(), size), FrameState::Whole);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(CheckMbap(two.data() + 12, two.size() - 12, size), FrameState::Whole);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(CheckMbap(two.data() + 12, two.size() - 13, size), FrameState::NeedMore);

    // A protocol id other than 0 is known from its first byte, before any length.
    const uint8_t protocol[] = {0, 1, 0, 7};
    EXPECT_EQ(CheckMbap(protocol, 4, size), FrameState::Malformed);
    const uint8_t high[] = {0, 1, 3};
    EXPECT_EQ(CheckMbap(high, 3, size), FrameState::Malformed);
    for (const uint16_t length : {0, 1, 255, 0xFFFF}) {
        const uint8_t h[] = {0, 1, 0, 0, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
        EXPECT_EQ(CheckMbap(h, 6, size), FrameState::Malformed) << length;
    }
    const uint8_t largest[] = {0, 1, 0, 0, 0, 254};
    EXPECT_EQ(CheckMbap(largest, 6, size), FrameState::NeedMore);
}

TEST(GatewayQuality, OnlyValuesOfGoodQualityAreServed) {
    RelayPoints r;
    r.yc[0] = r.yc[1] = true;
    r.ym[0] = true;
    r.yx[0] = r.yx[1] = true;
    // Never reported: nothing but the quality block answers.
    EXPECT_FALSE(AllGood(r, Table::InputRegisters, kYcBase, 2));
    EXPECT_FALSE(AllGood(r, Table::DiscreteInputs, 0, 1));
    EXPECT_TRUE(AllGood(r, Table::InputRegisters, kQualityBase, kQualityRegisters));
    EXPECT_TRUE(AllGood(r, Table::Coils, 0, 4));
    r.ycQuality[0] = VORLAN_QUALITY_GOOD;
    EXPECT_TRUE(AllGood(r, Table::InputRegisters, kYcBase, 2));
    // One value of the range only last known spoils the whole read.
    r.ycQuality[1] = VORLAN_QUALITY_LAST_KNOWN;
    EXPECT_FALSE(AllGood(r, Table::InputRegisters, kYcBase, 4));
    EXPECT_FALSE(AllGood(r, Table::InputRegisters, kYcBase + 3, 1));
    r.ymQuality[0] = VORLAN_QUALITY_GOOD;
    EXPECT_TRUE(AllGood(r, Table::InputRegisters, kYmBase, 2));
    r.yxQuality[0] = r.yxQuality[1] = VORLAN_QUALITY_GOOD;
    EXPECT_TRUE(AllGood(r, Table::DiscreteInputs, 0, 2));
}

TEST(GatewayAudit, FieldsFromTheNetworkCantBreakTheLine) {
    AuditEntry e;
    e.time = "2026-12-08T00:00:00.000Z";
    e.source = "mqtt vorlan/s/1/YK1\n/set";
    e.unit = 1;
    e.point = "YK\"1";
    e.outcome = "refused";
    e.reason = "back\\slash";
    EXPECT_EQ(AuditLog::Line(e), "2026-12-08T00:00:00.000Z control source=\"mqtt vorlan/s/1/YK1\\x0a/set\" unit=1 "
                                 "point=\"YK\\\"1\" action=- outcome=refused reason=\"back\\\\slash\"");
}

TEST(GatewayListen, HostAndPortTexts) {
    std::string host;
    int port = 0;
    EXPECT_EQ(SplitHostPort("127.0.0.1:8080", host, port), "");
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 8080);
    EXPECT_EQ(SplitHostPort("[::1]:81", host, port), "");
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 81);
    EXPECT_EQ(SplitHostPort("status.local:80", host, port), "");
    for (const char* bad : {"::1:80", "[::1]80", "host:", ":80", "host:0", "host:65536", "host:8x", "host"}) {
        EXPECT_NE(SplitHostPort(bad, host, port), "") << bad;
    }
}

TEST(GatewayFileLimit, RaisedForTheClientsAndHeldBelowSelectsRangeWithMqtt) {
    GatewayConfig c;
    c.lines.resize(2);
    c.modbus.maxClients = 1000;
    unsigned long target = 0;
    EXPECT_EQ(PlanFileLimit(c, 1024, 4096, target), "");
    EXPECT_EQ(target, 1000u + 16 + 128);
    EXPECT_EQ(PlanFileLimit(c, 20000, 20000, target), "");
    EXPECT_EQ(target, 20000u);
    EXPECT_NE(PlanFileLimit(c, 1024, 1100, target).find("raise it"), std::string::npos);
    // With MQTT on, no descriptor may pass 1023.
    c.mqtt.enabled = true;
    EXPECT_NE(PlanFileLimit(c, 1024, 4096, target).find("lower max_clients by 120"), std::string::npos);
    c.modbus.maxClients = 64;
    EXPECT_EQ(PlanFileLimit(c, 20000, 20000, target), "");
    EXPECT_EQ(target, 1024u);
}
