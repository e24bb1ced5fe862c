// SPDX-License-Identifier: Apache-2.0
#include "tool_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vorlan_tools_test {

std::string ToolPath(const std::string& name) { return std::string(VORLAN_TOOLS_DIR) + "/" + name; }
std::string LibraryPath() { return VORLAN_LIBRARY_PATH; }

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

namespace {

Result Run(const std::string& command, const std::vector<std::string>& env, const char* stderrGoes) {
    std::string line = "env";
    for (const std::string& e : env) line += " " + Quote(e);
    line += " " + command + stderrGoes;
    Result r;
    FILE* p = popen(line.c_str(), "r");
    if (!p) return r;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace

Result RunTool(const std::string& command, const std::vector<std::string>& env) { return Run(command, env, " 2>&1"); }

Result RunToolStdout(const std::string& command, const std::vector<std::string>& env) {
    return Run(command, env, " 2>/dev/null");
}

SimulatorProcess::SimulatorProcess(const std::string& arguments, const std::string& logPath) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        const std::string command = "exec " + ToolPath("vorlan-relaysim") + " " + arguments + " 2>" +
                                    (logPath.empty() ? std::string("/dev/null") : Quote(logPath));
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') path_ += c;
    close(out[0]);
}

SimulatorProcess::~SimulatorProcess() { Stop(); }

void SimulatorProcess::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/vorlan-tools-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() { RunTool("rm -rf " + Quote(path_)); }

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace vorlan_tools_test
