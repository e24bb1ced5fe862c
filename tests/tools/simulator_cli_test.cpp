// vorlan-relaysim as a command: usage mistakes all end with exit code 2, and
// --link replaces a stale link but never a file.

#include <gtest/gtest.h>
#include <unistd.h>

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
