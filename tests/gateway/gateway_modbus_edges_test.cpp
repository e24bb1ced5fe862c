// The Modbus server against clients that misbehave: more connections than
// allowed, headers that are not Modbus TCP, garbage, function codes with the
// top bit set, requests cut in two, and clients that say nothing.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>
#include <vector>

#include "gateway_fixture.h"

using namespace vorlan_gateway_test;

namespace {

const std::vector<uint8_t> kQualityRead{4, 0x07, 0xD0, 0, 2};   // answers taken, from the quality block

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Sends a frame and expects a normal reply with the same transaction id.
bool Served(int s, uint16_t tid) {
    if (!SendBytes(s, Frame(tid, 1, kQualityRead))) return false;
    const std::vector<uint8_t> r = ReadFrame(s, 3000);
    return r.size() == 13 && r[0] == (tid >> 8) && r[1] == (tid & 0xFF) && r[7] == 4;
}

class ModbusEdges : public GatewayTest {};

}  // namespace

TEST_F(ModbusEdges, ElevenHundredConnectionsAreServedOrRefusedAtOnce) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 1300) GTEST_SKIP() << "this test needs 1,300 open files, the limit is " << limit.rlim_cur;

    const std::string port = StartSimulator("1", 0);
    StartGateway(Head("many", "", "max_clients = 1000\n") + Line(port, "[[line.relay]]\naddress = 1\nitems = [\"YC1\"]\n"));
    ASSERT_TRUE(WaitFor(15, [&] { return Answered(1) > 0; })) << ReadFile(gatewayLog_);

    std::vector<int> sockets;
    for (int i = 0; i < 1100; ++i) {
        const int s = Connect("127.0.0.1", modbusPort_);
        ASSERT_GE(s, 0) << "connection " << i;
        sockets.push_back(s);
    }
    // The extra ones are closed without a word; the others stay.
    std::vector<pollfd> watch;
    for (int s : sockets) watch.push_back({s, POLLIN, 0});
    std::set<int> gone;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end) {
        if (poll(watch.data(), watch.size(), 100) <= 0) continue;
        for (pollfd& p : watch) {
            char byte = 0;
            if (p.revents && recv(p.fd, &byte, 1, MSG_DONTWAIT) == 0) gone.insert(p.fd);
            if (gone.count(p.fd)) p.events = 0;
        }
    }
    const int closed = static_cast<int>(gone.size());
    std::vector<int> open;
    for (int s : sockets) {
        if (gone.count(s)) close(s);
        else open.push_back(s);
    }
    EXPECT_EQ(closed, 100);
    ASSERT_EQ(open.size(), 1000u);
    // Clients from the first to the last (socket numbers past 1024 in the gateway) are served.
    EXPECT_TRUE(Served(open.front(), 1));
    EXPECT_TRUE(Served(open[500], 2));
    EXPECT_TRUE(Served(open.back(), 3));
    EXPECT_TRUE(gateway_->running()) << ReadFile(gatewayLog_);
    // One line for the whole burst, not one per client.
    EXPECT_EQ(Count(ReadFile(gatewayLog_), "turning clients away"), 1u) << ReadFile(gatewayLog_);

    // Once some leave, new clients are taken again.
    for (size_t i = 0; i < 10; ++i) close(open[i]);
    open.erase(open.begin(), open.begin() + 10);
    int again = -1;
    ASSERT_TRUE(WaitFor(5, [&] {
        if (again >= 0) close(again);
        again = Connect("127.0.0.1", modbusPort_);
        return again >= 0 && Served(again, 4);
    }));
    close(again);
    for (int s : open) close(s);
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}

TEST_F(ModbusEdges, MalformedHeadersCloseTheConnectionAndGarbageIsNeverAnswered) {
    const std::string port = StartSimulator("1", 0);
    StartGateway(Head("frames", "", "idle_timeout_s = 1\n") +
                 Line(port, "[[line.relay]]\naddress = 1\nitems = [\"YC1\"]\n"));
    ASSERT_TRUE(WaitFor(15, [&] { return Answered(1) > 0; })) << ReadFile(gatewayLog_);
    auto closedUnanswered = [&](const std::vector<uint8_t>& bytes) {
        const int s = Connect("127.0.0.1", modbusPort_);
        size_t received = 99;
        const bool closed = SendBytes(s, bytes) && ClosedWithin(s, 900, &received);
        close(s);
        return closed && received == 0;
    };
    // A protocol id other than 0, a length of 0 or one past the largest frame.
    EXPECT_TRUE(closedUnanswered(Frame(1, 1, kQualityRead, 1)));
    EXPECT_TRUE(closedUnanswered({0, 1, 0, 0, 0, 0, 1, 4}));
    EXPECT_TRUE(closedUnanswered({0, 1, 0, 0, 0x01, 0x00, 1, 4, 0x07, 0xD0, 0, 2}));

    // 64 KiB of garbage with well-formed frames inside: none of them is answered.
    std::mt19937 random(7);
    std::vector<uint8_t> garbage(65536);
    for (uint8_t& b : garbage) b = static_cast<uint8_t>(random());
    garbage[2] = 0x5A;   // the first header is not Modbus TCP
    for (size_t at = 1000; at + 12 < garbage.size(); at += 4000) {
        const std::vector<uint8_t> f = Frame(9, 1, kQualityRead);
        std::copy(f.begin(), f.end(), garbage.begin() + static_cast<std::ptrdiff_t>(at));
    }
    EXPECT_TRUE(closedUnanswered(garbage));

    const int s = Connect("127.0.0.1", modbusPort_);
    // Function codes with the top bit set keep it in the exception; unknown ones get exception 1.
    for (const uint8_t function : {0x80, 0xFF, 0x2B, 0x03}) {
        ASSERT_TRUE(SendBytes(s, Frame(function, 1, {function, 0, 0, 0, 1})));
        const std::vector<uint8_t> r = ReadFrame(s, 2000);
        ASSERT_EQ(r.size(), 9u) << int(function);
        EXPECT_EQ(r[1], function);
        EXPECT_EQ(r[7], function | 0x80) << int(function);
        EXPECT_EQ(r[8], 1) << int(function);
    }
    // A unit no relay has, and a frame that comes in two pieces.
    ASSERT_TRUE(SendBytes(s, Frame(5, 77, kQualityRead)));
    const std::vector<uint8_t> path = ReadFrame(s, 2000);
    ASSERT_EQ(path.size(), 9u);
    EXPECT_EQ(path[8], 10);
    const std::vector<uint8_t> whole = Frame(6, 1, kQualityRead);
    ASSERT_TRUE(SendBytes(s, std::vector<uint8_t>(whole.begin(), whole.begin() + 5)));
    usleep(200000);
    ASSERT_TRUE(SendBytes(s, std::vector<uint8_t>(whole.begin() + 5, whole.end())));
    EXPECT_EQ(ReadFrame(s, 2000).size(), 13u);

    // A client that keeps asking stays; one that says nothing is closed after idle_timeout_s.
    const int silent = Connect("127.0.0.1", modbusPort_);
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(Served(s, static_cast<uint16_t>(10 + i))) << i;
        usleep(300000);
    }
    EXPECT_TRUE(ClosedWithin(silent, 3000));
    close(silent);
    close(s);
    EXPECT_TRUE(gateway_->running());
    EXPECT_EQ(gateway_->Stop(SIGTERM), 0);
}
