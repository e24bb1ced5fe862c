#include "gateway_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "tool_process.h"

namespace vorlan_gateway_test {

int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t n = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0) {
        port = ntohs(a.sin_port);
    }
    close(s);
    return port;
}

Background::Background(const std::string& command, const std::string& logFile) {
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        const std::string line = "exec " + command + " >>" + vorlan_tools_test::Quote(logFile) + " 2>&1";
        execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

Background::~Background() { Stop(SIGKILL); }

bool Background::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int Background::Stop(int signal) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitFor(double seconds, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

namespace {

bool Accepts(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

}  // namespace

Broker::Broker(const std::string& dir, int port) : dir_(dir), port_(port) {
    vorlan_tools_test::WriteFile(dir_ + "/mosquitto.conf", "listener " + std::to_string(port_) +
                                                               " 127.0.0.1\nallow_anonymous true\npersistence false\n");
    Launch();
}

void Broker::Launch() {
    process_ = std::make_unique<Background>("mosquitto -c " + vorlan_tools_test::Quote(dir_ + "/mosquitto.conf"),
                                            dir_ + "/mosquitto.log");
    WaitFor(5, [this] { return Accepts(port_); });
}

void Broker::Restart() {
    process_.reset();
    Launch();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<int> ReadInputWords(int port, int unit, int reference, int count, std::string& error) {
    const vorlan_tools_test::Result r = vorlan_tools_test::RunTool(
        "mbpoll -m tcp -1 -q -o 3 -p " + std::to_string(port) + " -a " + std::to_string(unit) + " -t 3 -r " +
        std::to_string(reference) + " -c " + std::to_string(count) + " 127.0.0.1");
    std::vector<int> words;
    const std::regex row(R"(^\[(\d+)\]:\s+(-?\d+))");
    for (const std::string& line : Lines(r.output)) {
        std::smatch m;
        if (std::regex_search(line, m, row)) words.push_back(std::stoi(m[2]) & 0xFFFF);
    }
    if (r.code != 0 || static_cast<int>(words.size()) != count) {
        error = r.output;
        words.clear();
    }
    return words;
}

}  // namespace vorlan_gateway_test
