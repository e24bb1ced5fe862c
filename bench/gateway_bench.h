// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the gateway benchmarks share: free ports, the gateway and the broker
// as child processes, a process's CPU time and memory, percentiles, and the
// Modbus TCP clients that load the gateway.

#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace vorlan_gateway_bench {

using Clock = std::chrono::steady_clock;

inline int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    close(s);
    return ntohs(a.sin_port);
}

inline pid_t Spawn(const std::string& command) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

inline void Stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

// utime + stime of a process, in seconds.
inline double ProcessCpu(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string f;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::atof(f.c_str());
        if (i == 15) stime = std::atof(f.c_str());
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A process's resident memory (VmRSS), in MiB; 0 when it can't be read.
inline double ProcessRssMib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atof(line.c_str() + 6) / 1024.0;
    }
    return 0;
}

inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

inline double WallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// How many of units 1..`units` the gateway answers a read of 16 input registers for.
inline int UnitsServed(int modbusPort, int units) {
    modbus_t* probe = modbus_new_tcp("127.0.0.1", modbusPort);
    int answered = 0;
    if (modbus_connect(probe) == 0) {
        for (int unit = 1; unit <= units; ++unit) {
            uint16_t r[16];
            modbus_set_slave(probe, unit);
            if (modbus_read_input_registers(probe, 0, 16, r) == 16) ++answered;
        }
    }
    modbus_close(probe);
    modbus_free(probe);
    return answered;
}

// `clients` Modbus TCP clients, each reading 16 input registers of the
// units 1..`units` in turn, `hz` times a second, until `stop`.
class ModbusLoad {
public:
    ModbusLoad(int port, int units, int clients, int hz) {
        for (int c = 0; c < clients; ++c) {
            threads_.emplace_back([this, port, units, hz, c] { Run(port, units, hz, c); });
        }
    }
    // Stops the clients; the answer times in ms and the failed reads.
    void Finish(std::vector<double>& answerMs, long& failures) {
        stop_ = true;
        for (auto& t : threads_) t.join();
        threads_.clear();
        answerMs = answerMs_;
        failures = failures_;
    }
    ~ModbusLoad() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }

private:
    void Run(int port, int units, int hz, int c) {
        modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
        modbus_set_response_timeout(ctx, 2, 0);
        if (modbus_connect(ctx) != 0) {
            modbus_free(ctx);
            return;
        }
        std::vector<double> mine;
        long failed = 0;
        auto next = Clock::now();
        for (int i = 0; !stop_; ++i) {
            modbus_set_slave(ctx, 1 + (c * 7 + i) % units);
            uint16_t regs[16];
            const auto t0 = Clock::now();
            const int n = modbus_read_input_registers(ctx, 0, 16, regs);
            const auto t1 = Clock::now();
            if (n == 16) mine.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            else ++failed;
            next += std::chrono::milliseconds(1000 / hz);
            std::this_thread::sleep_until(next);
        }
        modbus_close(ctx);
        modbus_free(ctx);
        std::lock_guard<std::mutex> hold(lock_);
        answerMs_.insert(answerMs_.end(), mine.begin(), mine.end());
        failures_ += failed;
    }

    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
    std::mutex lock_;
    std::vector<double> answerMs_;
    long failures_ = 0;
};

}  // namespace vorlan_gateway_bench
