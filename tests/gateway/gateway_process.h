#pragma once
// The real parts the gateway tests run: the gateway itself, a mosquitto
// broker on a free local port, mosquitto_sub in the background, and mbpoll.

#include <sys/types.h>

#include <cstdint>
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

// A TCP connection to `host` (an IPv4 or IPv6 address) and `port`; -1 when refused.
int Connect(const std::string& host, int port);
// A Modbus TCP frame: transaction id, protocol id, length, unit id, PDU.
std::vector<uint8_t> Frame(uint16_t tid, uint8_t unit, const std::vector<uint8_t>& pdu, uint16_t protocol = 0);
bool SendBytes(int s, const std::vector<uint8_t>& bytes);
// One reply frame within `ms`; empty when none came (`closed` tells whether
// the gateway closed the connection).
std::vector<uint8_t> ReadFrame(int s, int ms, bool* closed = nullptr);
// Does the gateway close `s` within `ms`? The bytes it sent first are counted in `received`.
bool ClosedWithin(int s, int ms, size_t* received = nullptr);

// The output of headless Chromium for `url`: the page's DOM, or a screenshot
// to `screenshot` when given. Empty when Chromium isn't there.
std::string Chromium(const std::string& url, const std::string& profileDir, const std::string& screenshot = "");

}  // namespace vorlan_gateway_test
