// SPDX-License-Identifier: Apache-2.0
#include "link/monitor_trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "monitor_listener.h"
#include "platform/linux_monitor_sink.h"

namespace {

using vorlan_test::MonitorListener;

std::string Format(const std::vector<uint8_t>& frame) {
    char text[3 * 64 + 1];
    const size_t size = vorlan::FormatTrace(frame.data(), frame.size(), text, sizeof text);
    return std::string(text, size);
}

// The host's monitor for the length of a test, found through $VORLAN_MONITOR.
class TraceToMonitorTest : public ::testing::Test {
protected:
    TraceToMonitorTest() : listener("trace") {
        setenv("VORLAN_MONITOR", listener.name().c_str(), 1);
        sink = vorlan::MakeHostMonitorSink();
    }
    ~TraceToMonitorTest() override { unsetenv("VORLAN_MONITOR"); }

    void Send(char direction, const std::string& text) {
        vorlan::MonitorTrace(*sink, direction, text.data(), text.size());
    }

    MonitorListener listener;
    std::unique_ptr<vorlan::MonitorSink> sink;
};

TEST(FormatTraceTest, TwoUpperCaseDigitsAndABlankPerByte) {
    EXPECT_EQ(Format({0x01, 0x83, 0x00}), "01 83 00 ");
    EXPECT_EQ(Format({0xAB, 0xff}), "AB FF ");
    EXPECT_EQ(Format({}), "");
}

TEST(FormatTraceTest, StopsAtWholeBytesThatFit) {
    const uint8_t frame[4] = {1, 2, 3, 4};
    char text[8];
    EXPECT_EQ(vorlan::FormatTrace(frame, sizeof frame, text, sizeof text), 6u);
    EXPECT_STREQ(text, "01 02 ");
}

TEST_F(TraceToMonitorTest, FortyByteFrameArrivesAsTwoLines) {
    std::vector<uint8_t> frame(40);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i);
    const std::string text = Format(frame);
    ASSERT_EQ(text.size(), 120u);
    Send('T', text);

    const auto lines = listener.Lines();
    ASSERT_EQ(lines.size(), 2u);
    // The prefix and 26 bytes (the blank after the 26th is skipped) ...
    EXPECT_EQ(lines[0], "T=>" + text.substr(0, 77));
    EXPECT_EQ(lines[0].size(), 80u);
    // ... then three blanks and the other 14 bytes.
    EXPECT_EQ(lines[1], "   " + text.substr(78));
    EXPECT_EQ(lines[1].size(), 45u);
}

TEST_F(TraceToMonitorTest, DirectionGivesThePrefix) {
    Send('t', "01 ");
    Send('R', "02 ");
    Send('r', "03 ");
    Send('x', "04 ");
    const std::vector<std::string> expected{"T=>01 ", "R=>02 ", "R=>03 ", "04 "};
    EXPECT_EQ(listener.Lines(), expected);
}

TEST_F(TraceToMonitorTest, LongTraceKeepsItsOrderAndEveryByte) {
    std::vector<uint8_t> frame(260);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
    char text[3 * 260 + 1];
    const size_t size = vorlan::FormatTrace(frame.data(), frame.size(), text, sizeof text);
    vorlan::MonitorTrace(*sink, 'R', text, size);

    const auto lines = listener.Lines();
    ASSERT_EQ(lines.size(), 10u);  // 26 bytes, then 27 a line
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), i == 0 ? 80u : 83u);
        // Past the prefix or the three blanks; the skipped separator goes back in.
        joined += lines[i].substr(3) + (i + 1 < lines.size() ? " " : "");
    }
    EXPECT_EQ(joined, std::string(text, size));
}

TEST(MonitorSinkTest, NobodyListeningDropsTheLine) {
    setenv("VORLAN_MONITOR", "vorlan-test-nobody-listens", 1);
    auto sink = vorlan::MakeHostMonitorSink();
    unsetenv("VORLAN_MONITOR");
    vorlan::MonitorTrace(*sink, 'T', "01 83 00 ", 9);  // returns, nothing to see
    SUCCEED();
}

}  // namespace
