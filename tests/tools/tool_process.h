// SPDX-License-Identifier: Apache-2.0
#pragma once
// Runs the built tools as subprocesses: the simulator in the background,
// vorlan-host to completion with its output and exit code.

#include <sys/types.h>

#include <string>
#include <vector>

namespace vorlan_tools_test {

struct Result {
    int code = -1;
    std::string output;  // standard output and error together
};

// Runs `command` (a shell command line) with the environment `env`
// ("NAME=value" entries) added.
Result RunTool(const std::string& command, const std::vector<std::string>& env = {});
// The same with standard error dropped: `output` is standard output alone.
Result RunToolStdout(const std::string& command, const std::vector<std::string>& env = {});

// The simulator as a child process; its first output line is the line's path.
class SimulatorProcess {
public:
    // With `logPath`, the simulator's standard error goes there.
    explicit SimulatorProcess(const std::string& arguments, const std::string& logPath = "");
    ~SimulatorProcess();
    const std::string& path() const { return path_; }
    void Stop();

private:
    pid_t pid_ = -1;
    std::string path_;
};

std::string ToolPath(const std::string& name);
std::string LibraryPath();
std::string Quote(const std::string& text);

// A temporary directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

}  // namespace vorlan_tools_test
