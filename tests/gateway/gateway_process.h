#pragma once
// The real parts the gateway tests run: the gateway itself, a mosquitto
// broker on a free local port, mosquitto_sub in the background, and mbpoll.

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vorlan_gateway_test {

// A free TCP port on 127.0.0.1 (the kernel's pick, released again).
int FreePort();

// A shell command in the background with its output in `logFile`.
class Background {
public:
    Background(const std::string& command, const std::string& logFile);
    ~Background();
    // Sends `signal` and waits; the exit code, or -1 when it was killed.
    int Stop(int signal = 15);
    bool running();

private:
    pid_t pid_ = -1;
};

// mosquitto on `port`, without persistence; waits until it accepts connections.
class Broker {
public:
    Broker(const std::string& dir, int port);
    void Restart();
    void Stop() { process_.reset(); }
    int port() const { return port_; }

private:
    void Launch();
    std::string dir_;
    int port_;
    std::unique_ptr<Background> process_;
};

// True once `done` holds, polled every 50 ms for at most `seconds`.
bool WaitFor(double seconds, const std::function<bool()>& done);

// The lines of a file.
std::vector<std::string> Lines(const std::string& text);

// Reads input registers (function 4) as raw words; empty with the error in `error`.
std::vector<int> ReadInputWords(int port, int unit, int reference, int count, std::string& error);

}  // namespace vorlan_gateway_test
