#include "gateway_process.h"

#include <arpa/inet.h>
#include <poll.h>
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

int Connect(const std::string& host, int port) {
    sockaddr_storage a{};
    socklen_t size = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        size = sizeof *v4;
    } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        size = sizeof *v6;
    } else {
        return -1;
    }
    const int s = socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    if (connect(s, reinterpret_cast<sockaddr*>(&a), size) != 0) {
        close(s);
        return -1;
    }
    return s;
}

std::vector<uint8_t> Frame(uint16_t tid, uint8_t unit, const std::vector<uint8_t>& pdu, uint16_t protocol) {
    const size_t length = pdu.size() + 1;
    std::vector<uint8_t> f(7 + pdu.size());
    const uint16_t words[3] = {tid, protocol, static_cast<uint16_t>(length)};
    for (size_t i = 0; i < 3; ++i) {
        f[2 * i] = static_cast<uint8_t>(words[i] >> 8);
        f[2 * i + 1] = static_cast<uint8_t>(words[i]);
    }
    f[6] = unit;
    for (size_t i = 0; i < pdu.size(); ++i) f[7 + i] = pdu[i];
    return f;
}

bool SendBytes(int s, const std::vector<uint8_t>& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = send(s, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0) return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

namespace {

// Reads exactly `count` bytes before `end`; false when the time ran out or the peer closed.
bool ReadExactly(int s, uint8_t* out, size_t count, std::chrono::steady_clock::time_point end, bool* closed) {
    size_t at = 0;
    while (at < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = recv(s, out + at, count - at, 0);
        if (n <= 0) {
            if (closed) *closed = true;
            return false;
        }
        at += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::vector<uint8_t> ReadFrame(int s, int ms, bool* closed) {
    if (closed) *closed = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::vector<uint8_t> f(6);
    if (!ReadExactly(s, f.data(), 6, end, closed)) return {};
    const size_t length = static_cast<size_t>(f[4]) << 8 | f[5];
    f.resize(6 + length);
    if (!ReadExactly(s, f.data() + 6, length, end, closed)) return {};
    return f;
}

bool ClosedWithin(int s, int ms, size_t* received) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    if (received) *received = 0;
    uint8_t buffer[4096];
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) return true;
        if (received) *received += static_cast<size_t>(n);
    }
    return false;
}

std::string Chromium(const std::string& url, const std::string& profileDir, const std::string& screenshot) {
    if (vorlan_tools_test::RunTool("sh -c \"command -v chromium\"").code != 0) return {};
    const std::string flags =
        "--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking "
        "--disable-component-update --disable-sync --user-data-dir=" + vorlan_tools_test::Quote(profileDir);
    const std::string what = screenshot.empty() ? "--dump-dom"
                                                : "--window-size=1280,900 --screenshot=" + vorlan_tools_test::Quote(screenshot);
    return vorlan_tools_test::RunToolStdout("timeout 60 chromium " + flags + " " + what + " " +
                                            vorlan_tools_test::Quote(url) + " 2>/dev/null")
        .output;
}

}  // namespace vorlan_gateway_test
