// SPDX-License-Identifier: Apache-2.0
// vorlan-relaysim as a command: usage mistakes all end with exit code 2,
// --link replaces a stale link but never a file; a relay that falls silent,
// and a hung-up line that is waited on, not spun on.

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "answer_builder.h"
#include "fault_injector.h"
#include "hex.h"
#include "line_loop.h"
#include "sim_config.h"
#include "tool_process.h"

using namespace vorlan_tools_test;

TEST(SimulatorCommand, EveryUsageMistakeEndsWithCodeTwo) {
    TempDir dir;
    const std::string sim = ToolPath("vorlan-relaysim");
    for (const std::string arguments :
         {"--no-such-option", "--drop 2", "--relays x", "--relays 1,1", "--relays 40", "--parity sideways",
          "--silent-after 1", "--silent-after 5:3", "--recording-samples 500", "-c /nonexistent/line.toml",
          "--baud fast"}) {
        const Result r = RunTool(sim + " " + arguments + " --duration 0.1");
        EXPECT_EQ(r.code, 2) << arguments << "\n" << r.output;
    }
    EXPECT_EQ(RunTool(sim + " --help").code, 0);
}

TEST(SimulatorCommand, LinkReplacesOnlyALink) {
    TempDir dir;
    const std::string file = dir.path() + "/line";
    WriteFile(file, "precious");
    Result r = RunTool(ToolPath("vorlan-relaysim") + " --link " + Quote(file) + " --duration 0.1");
    EXPECT_EQ(r.code, 2) << r.output;
    EXPECT_NE(r.output.find("not a symbolic link"), std::string::npos) << r.output;
    EXPECT_EQ(ReadFile(file), "precious");

    // A stale link of an earlier run is replaced, and removed at the end.
    const std::string link = dir.path() + "/stale";
    ASSERT_EQ(symlink("/dev/vorlan-gone", link.c_str()), 0);
    r = RunTool(ToolPath("vorlan-relaysim") + " --link " + Quote(link) + " --duration 0.3");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("linked as " + link), std::string::npos) << r.output;
    char target[64];
    EXPECT_LT(readlink(link.c_str(), target, sizeof target), 0);
}

TEST(SimulatedRelay, FallsSilentAfterItsAnswersAndCountsWhatItWasAsked) {
    std::vector<vorlan_sim::RelayConfig> relays;
    ASSERT_EQ(vorlan_sim::ParseRelayList("1,2", relays), "");
    relays[1].silentAfter = 2;
    vorlan_sim::RelayLine line(relays, 1);
    for (uint8_t address : {1, 2}) {
        const auto request = vorlan_test::MakeFrame(address, 0x83, {});
        for (int i = 0; i < 5; ++i) {
            const auto answer = line.HandleRequest(vorlan::ByteView(request.data(), request.size()));
            EXPECT_EQ(answer.empty(), address == 2 && i >= 2) << "relay " << int(address) << " request " << i;
        }
    }
    EXPECT_EQ(line.Find(1)->traffic().requests, 5u);
    EXPECT_EQ(line.Find(1)->traffic().answers, 5u);
    EXPECT_EQ(line.Find(2)->traffic().requests, 5u);
    EXPECT_EQ(line.Find(2)->traffic().answers, 2u);
}

TEST(SimulatedLine, AHungUpLineIsWaitedOnNotSpunOn) {
    std::vector<vorlan_sim::RelayConfig> relays;
    ASSERT_EQ(vorlan_sim::ParseRelayList("1", relays), "");
    vorlan_sim::RelayLine line(relays, 1);
    vorlan_sim::FaultInjector faults(vorlan_sim::FaultRates{}, 1, {1});
    vorlan_sim::LineLoop loop(line, faults, nullptr);
    // A peer that has gone: readable at once, and every read gives end of file.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    close(pair[1]);
    std::atomic<bool> stop{false};
    std::string ended = "running";
    clockid_t cpu{};
    std::atomic<bool> started{false};
    std::thread runner([&] {
        pthread_getcpuclockid(pthread_self(), &cpu);
        started = true;
        ended = vorlan_sim::RunLine(pair[0], loop, stop);
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    timespec used{};
    clock_gettime(cpu, &used);
    stop = true;
    runner.join();
    close(pair[0]);
    EXPECT_EQ(ended, "");
    // A loop that spins burns most of the second; one that sleeps, a few milliseconds.
    EXPECT_LT(used.tv_sec * 1000 + used.tv_nsec / 1000000, 100);
}
