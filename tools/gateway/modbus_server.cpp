#include "modbus_server.h"

#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "log.h"
#include "register_map.h"

namespace vorlan_gateway {

namespace {

constexpr int kHeader = 7;          // MBAP header with the unit id
constexpr int kMaxReadBits = 2000;
constexpr int kMaxReadRegisters = 125;

struct MappingFree {
    void operator()(modbus_mapping_t* m) const { modbus_mapping_free(m); }
};
using Mapping = std::unique_ptr<modbus_mapping_t, MappingFree>;

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

int ExceptionFor(ControlResult r) {
    switch (r) {
        case ControlResult::Done: return 0;
        case ControlResult::TimedOut:
        case ControlResult::LineDown: return MODBUS_EXCEPTION_GATEWAY_TARGET;
        default: return MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE;
    }
}

}  // namespace

ModbusServer::ModbusServer(const ModbusConfig& config, std::vector<RelayPoints*> relays, ControlFn control)
    : config_(config), control_(std::move(control)) {
    for (RelayPoints* r : relays) units_[r->unit] = r;
}

ModbusServer::~ModbusServer() { Stop(); }

std::string ModbusServer::Start() {
    modbus_t* ctx = modbus_new_tcp(config_.listen.c_str(), config_.port);
    if (!ctx) return "Modbus: can't use the address " + config_.listen;
    listenSocket_ = modbus_tcp_listen(ctx, 32);
    const int err = errno;
    modbus_free(ctx);
    if (listenSocket_ < 0) {
        return "Modbus: can't listen on " + config_.listen + ":" + std::to_string(config_.port) + ": " +
               std::strerror(err);
    }
    Log(kInfo, "Modbus TCP listening on " + config_.listen + ":" + std::to_string(config_.port));
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return {};
}

void ModbusServer::Stop() {
    if (stop_.exchange(true)) return;
    if (acceptThread_.joinable()) acceptThread_.join();
    if (listenSocket_ >= 0) close(listenSocket_);
    listenSocket_ = -1;
    std::unique_lock<std::mutex> hold(clientsLock_);
    for (int s : clients_) shutdown(s, SHUT_RDWR);
    // A client waiting for a control's outcome leaves once the line reports it.
    clientsGone_.wait(hold, [this] { return clients_.empty(); });
}

void ModbusServer::AcceptLoop() {
    while (!stop_) {
        pollfd p{listenSocket_, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        const int s = accept(listenSocket_, nullptr, nullptr);
        if (s < 0) continue;
        std::lock_guard<std::mutex> hold(clientsLock_);
        if (stop_ || static_cast<int>(clients_.size()) >= config_.maxClients) {
            Log(kWarning, "Modbus: a client turned away, " + std::to_string(clients_.size()) + " connected already");
            close(s);
            continue;
        }
        const int one = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        clients_.insert(s);
        std::thread([this, s] { Serve(s); }).detach();
    }
}

void ModbusServer::Serve(int socket) {
    modbus_t* ctx = modbus_new_tcp(config_.listen.c_str(), config_.port);
    if (ctx) modbus_set_socket(ctx, socket);
    Log(kDebug, "Modbus: client connected");
    uint8_t req[MODBUS_TCP_MAX_ADU_LENGTH];
    while (ctx && !stop_) {
        const int n = modbus_receive(ctx, req);
        if (n < 0) break;                  // closed, or a frame that can't be read
        if (n < kHeader + 1) continue;
        const int unit = req[kHeader - 1];
        const int function = req[kHeader];
        const auto it = units_.find(unit);
        if (it == units_.end()) {
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_GATEWAY_PATH);
            continue;
        }
        RelayPoints& relay = *it->second;
        if (function != 1 && function != 2 && function != 4 && function != 5 && function != 15) {
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
            continue;
        }
        if (n < kHeader + 5) {
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
            continue;
        }
        const int address = Word(req + kHeader + 1);
        const int count = Word(req + kHeader + 3);

        if (function == 5 || function == 15) {
            bool close = false;
            if (function == 5) {
                if (count != 0xFF00 && count != 0x0000) {
                    modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
                    continue;
                }
                close = count == 0xFF00;
            } else {
                // One control per request: a multi-coil write is refused whole.
                if (count != 1 || n < kHeader + 7 || req[kHeader + 5] != 1) {
                    modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
                    continue;
                }
                close = (req[kHeader + 6] & 1) != 0;
            }
            if (!InMap(relay, Table::Coils, address, 1)) {
                modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
                continue;
            }
            const ControlOutcome outcome = control_(relay, address + 1, close);
            if (outcome.result != ControlResult::Done) {
                modbus_reply_exception(ctx, req, ExceptionFor(outcome.result));
                continue;
            }
            Mapping m(modbus_mapping_new_start_address(address, 1, 0, 0, 0, 0, 0, 0));
            if (m) modbus_reply(ctx, req, n, m.get());
            continue;
        }

        const Table table = function == 1 ? Table::Coils : function == 2 ? Table::DiscreteInputs : Table::InputRegisters;
        const int limit = function == 4 ? kMaxReadRegisters : kMaxReadBits;
        if (count < 1 || count > limit) {
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
            continue;
        }
        if (!InMap(relay, table, address, count)) {
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
            continue;
        }
        Mapping m;
        {
            std::lock_guard<std::mutex> hold(relay.lock);
            const int last = address + count - 1;
            const bool touchesYc = function == 4 && address < kYcBase + 2 * kYcPoints;
            const bool touchesYm = function == 4 && last >= kYmBase && address < kYmBase + 2 * kYmPoints;
            const bool withheld = (touchesYc && !relay.ycLive) || (touchesYm && !relay.ymLive) ||
                                  (function == 2 && !relay.yxLive);
            if (withheld) {
                m.reset();
            } else if (function == 4) {
                m.reset(modbus_mapping_new_start_address(0, 0, 0, 0, 0, 0, address, count));
                if (m) FillInputRegisters(relay, address, count, config_.wordsLittle, NowFileTime(), m->tab_input_registers);
            } else if (function == 2) {
                m.reset(modbus_mapping_new_start_address(0, 0, address, count, 0, 0, 0, 0));
                for (int i = 0; m && i < count; ++i) m->tab_input_bits[i] = relay.yxValue[address + i] ? 1 : 0;
            } else {
                m.reset(modbus_mapping_new_start_address(address, count, 0, 0, 0, 0, 0, 0));
                for (int i = 0; m && i < count; ++i) m->tab_bits[i] = relay.ykClosed[address + i] ? 1 : 0;
            }
        }
        if (!m) {
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_GATEWAY_TARGET);
            continue;
        }
        modbus_reply(ctx, req, n, m.get());
    }
    if (ctx) modbus_free(ctx);   // closes nothing: the socket is ours
    close(socket);
    Log(kDebug, "Modbus: client gone");
    std::lock_guard<std::mutex> hold(clientsLock_);
    clients_.erase(socket);
    clientsGone_.notify_all();
}

}  // namespace vorlan_gateway
