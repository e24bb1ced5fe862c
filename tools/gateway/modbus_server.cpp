#include "modbus_server.h"

#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "listen_address.h"
#include "log.h"
#include "mbap.h"

namespace vorlan_gateway {

namespace {

constexpr uint64_t kWakeId = 0;              // epoll ids: 0 the wake-up, 1.. the listeners, then clients
constexpr uint64_t kFirstClient = 1u << 20;
constexpr int kBacklog = 128;
// While a control runs the client's further requests wait; this much is kept.
constexpr size_t kMaxBuffered = 4 * kMaxAdu;
// Refused clients are logged once per burst; a burst ends after this quiet time.
constexpr auto kBurstQuiet = std::chrono::seconds(2);
// TCP keepalive: probes after 60 s of silence, every 10 s, 3 unanswered end the connection.
constexpr int kKeepIdleS = 60, kKeepIntervalS = 10, kKeepCount = 3;

}  // namespace

ModbusServer::ModbusServer(const ModbusConfig& config, std::vector<RelayPoints*> relays, ControlFn control)
    : config_(config),
      handler_(
          [&relays] {
              std::map<int, RelayPoints*> units;
              for (RelayPoints* r : relays) units[r->unit] = r;
              return units;
          }(),
          config.wordsLittle),
      control_(std::move(control)) {}

ModbusServer::~ModbusServer() {
    Stop();
    for (int s : listenSockets_) close(s);
    if (epoll_ >= 0) close(epoll_);
    if (wake_ >= 0) close(wake_);
    if (spare_ >= 0) close(spare_);
    if (ctx_) modbus_free(ctx_);
}

std::string ModbusServer::Start() {
    // The context is only for building replies: it never connects.
    ctx_ = modbus_new_tcp("127.0.0.1", config_.port);
    if (!ctx_) return "Modbus: can't set up libmodbus";
    std::vector<std::string> where;
    if (std::string e = OpenListeners(config_.listen, config_.port, kBacklog, listenSockets_, where); !e.empty()) {
        return "Modbus: " + e;
    }
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (epoll_ < 0 || wake_ < 0) return std::string("Modbus: can't set up the event loop: ") + std::strerror(errno);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeId;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
    for (size_t i = 0; i < listenSockets_.size(); ++i) {
        ev.data.u64 = i + 1;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, listenSockets_[i], &ev);
    }
    for (const std::string& w : where) Log(kInfo, "Modbus TCP listening on " + w);
    nextId_ = kFirstClient;
    lastHousekeeping_ = Clock::now();
    thread_ = std::thread([this] { Loop(); });
    return {};
}

void ModbusServer::Wake() {
    const uint64_t one = 1;
    if (wake_ >= 0 && write(wake_, &one, sizeof one) < 0) {
        // Already pending: the loop wakes anyway.
    }
}

void ModbusServer::Quiesce() {
    quiesce_ = true;
    Wake();
}

void ModbusServer::Stop() {
    quiesce_ = true;
    if (stop_.exchange(true)) return;
    Wake();
    if (thread_.joinable()) thread_.join();
}

std::vector<ModbusClientInfo> ModbusServer::Clients() {
    std::lock_guard<std::mutex> hold(clientsLock_);
    std::vector<ModbusClientInfo> out;
    out.reserve(clients_.size());
    for (const auto& [id, c] : clients_) out.push_back(c.info);
    return out;
}

void ModbusServer::Loop() {
    epoll_event events[64];
    bool listening = true;
    for (;;) {
        const int n = epoll_wait(epoll_, events, 64, 200);
        for (int i = 0; i < n; ++i) {
            const uint64_t id = events[i].data.u64;
            if (id == kWakeId) {
                uint64_t count = 0;
                while (read(wake_, &count, sizeof count) > 0) {
                }
            } else if (id < kFirstClient) {
                if (listening) Accept(listenSockets_[id - 1]);
            } else {
                Receive(id);
            }
        }
        RunCompletions();
        if (listening && quiesce_) {
            for (int s : listenSockets_) close(s);
            listenSockets_.clear();
            listening = false;
        }
        if (stop_) break;
        Housekeeping();
    }
    RunCompletions();
    std::vector<uint64_t> ids;
    for (const auto& [id, c] : clients_) ids.push_back(id);
    for (uint64_t id : ids) Drop(id, "the gateway is stopping");
}

void ModbusServer::Accept(int listenSocket) {
    for (;;) {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        const int s = accept4(listenSocket, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (s < 0) {
            if ((errno == EMFILE || errno == ENFILE) && spare_ >= 0) {
                // Out of descriptors: take the waiting connection with the spare
                // one and close it, so it does not wake the loop again and again.
                close(spare_);
                const int shed = accept(listenSocket, nullptr, nullptr);
                if (shed >= 0) close(shed);
                spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
                NoteRefused();
                continue;
            }
            return;   // EAGAIN, or a connection gone before it was taken
        }
        if (quiesce_ || clients_.size() >= static_cast<size_t>(config_.maxClients)) {
            close(s);
            NoteRefused();
            continue;
        }
        TakeClient(s, AddressText(reinterpret_cast<sockaddr*>(&peer), size));
    }
}

void ModbusServer::TakeClient(int fd, const std::string& peer) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
    const uint64_t id = nextId_++;
    Client c;
    c.fd = fd;
    c.peer = peer;
    c.heard = Clock::now();
    c.info.peer = peer;
    c.info.connected = NowFileTime();
    {
        std::lock_guard<std::mutex> hold(clientsLock_);
        clients_.emplace(id, std::move(c));
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = id;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
    Log(kDebug, "Modbus: client " + peer + " connected");
}

void ModbusServer::NoteRefused() {
    ++refusedTotal_;
    if (refusedBurst_++ == 0) {
        Log(kWarning, "Modbus: turning clients away, " + std::to_string(clients_.size()) + " connected (max_clients " +
                          std::to_string(config_.maxClients) + ")");
    }
    lastRefused_ = Clock::now();
}

void ModbusServer::Watch(const Client& c, uint64_t id, bool reading) {
    epoll_event ev{};
    ev.events = reading ? static_cast<uint32_t>(EPOLLIN) : 0u;   // hang-ups and errors are reported either way
    ev.data.u64 = id;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
}

void ModbusServer::Receive(uint64_t id) {
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    Client& c = it->second;
    uint8_t buffer[1024];
    for (;;) {
        const size_t room = kMaxBuffered - c.in.size();
        if (room == 0) break;
        const ssize_t n = recv(c.fd, buffer, std::min(room, sizeof buffer), 0);
        if (n > 0) {
            c.in.insert(c.in.end(), buffer, buffer + n);
            c.heard = Clock::now();
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n < 0 && errno == EINTR) continue;
        // Closed by the client, or an error. A control still running goes on;
        // its outcome has nobody to go to.
        Drop(id, n == 0 ? "closed by the client" : std::strerror(errno));
        return;
    }
    if (!c.pending.empty()) {
        if (c.in.size() >= kMaxBuffered) Watch(c, id, false);   // the rest waits in the socket
        return;
    }
    ServeBuffered(id);
}

void ModbusServer::ServeBuffered(uint64_t id) {
    for (;;) {
        auto it = clients_.find(id);
        if (it == clients_.end()) return;
        Client& c = it->second;
        if (!c.pending.empty()) return;
        size_t size = 0;
        const FrameState state = CheckMbap(c.in.data(), c.in.size(), size);
        if (state == FrameState::NeedMore) return;
        if (state == FrameState::Malformed) {
            Drop(id, "a header that is not Modbus TCP (protocol id or length)");
            return;
        }
        uint8_t req[kMaxAdu];
        std::memcpy(req, c.in.data(), size);
        c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(size));
        if (!ServeOne(id, c, req, static_cast<int>(size))) return;
    }
}

bool ModbusServer::ServeOne(uint64_t id, Client& c, const uint8_t* req, int size) {
    {
        std::lock_guard<std::mutex> hold(clientsLock_);
        ++c.info.requests;
    }
    modbus_set_socket(ctx_, c.fd);
    ControlRequest control;
    RequestOutcome out = handler_.Handle(ctx_, req, size, control);
    if (out == RequestOutcome::Control && quiesce_) {
        out = RequestHandler::AnswerControl(ctx_, req, size, {ControlResult::Stopping, "the gateway is stopping"});
    }
    if (out == RequestOutcome::SendFailed) {
        Drop(id, "a reply could not be sent");
        return false;
    }
    if (out != RequestOutcome::Control) return true;
    c.pending.assign(req, req + size);
    {
        std::lock_guard<std::mutex> hold(clientsLock_);
        c.info.waiting = true;
    }
    control_(*control.relay, control.point, control.close, "modbus " + c.peer, [this, id](const ControlOutcome& o) {
        {
            std::lock_guard<std::mutex> hold(doneLock_);
            done_.push_back({id, o});
        }
        Wake();
    });
    return false;
}

void ModbusServer::RunCompletions() {
    std::vector<Completion> done;
    {
        std::lock_guard<std::mutex> hold(doneLock_);
        done.swap(done_);
    }
    for (const Completion& d : done) {
        auto it = clients_.find(d.client);
        if (it == clients_.end() || it->second.pending.empty()) continue;
        Client& c = it->second;
        modbus_set_socket(ctx_, c.fd);
        const RequestOutcome out = RequestHandler::AnswerControl(ctx_, c.pending.data(),
                                                                 static_cast<int>(c.pending.size()), d.outcome);
        c.pending.clear();
        {
            std::lock_guard<std::mutex> hold(clientsLock_);
            c.info.waiting = false;
        }
        if (out == RequestOutcome::SendFailed) {
            Drop(d.client, "a reply could not be sent");
            continue;
        }
        if (stop_) continue;
        Watch(c, d.client, true);
        ServeBuffered(d.client);
    }
}

void ModbusServer::Drop(uint64_t id, const char* why) {
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    const int fd = it->second.fd;
    Log(kDebug, "Modbus: client " + it->second.peer + " gone: " + why);
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    std::lock_guard<std::mutex> hold(clientsLock_);
    clients_.erase(it);
}

void ModbusServer::Housekeeping() {
    const auto now = Clock::now();
    if (refusedBurst_ > 0 && now - lastRefused_ >= kBurstQuiet) {
        if (refusedBurst_ > 1) Log(kWarning, "Modbus: " + std::to_string(refusedBurst_) + " clients turned away in all");
        refusedBurst_ = 0;
    }
    if (now - lastHousekeeping_ < std::chrono::milliseconds(500)) return;
    lastHousekeeping_ = now;
    const auto idle = std::chrono::seconds(config_.idleTimeoutS);
    std::vector<uint64_t> silent;
    for (const auto& [id, c] : clients_) {
        if (c.pending.empty() && now - c.heard >= idle) silent.push_back(id);
    }
    for (uint64_t id : silent) {
        Log(kInfo, "Modbus: closing " + clients_.at(id).peer + ", silent for " + std::to_string(config_.idleTimeoutS) +
                       " s (idle_timeout_s)");
        Drop(id, "idle");
    }
}

}  // namespace vorlan_gateway
