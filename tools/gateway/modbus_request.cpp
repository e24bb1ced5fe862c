#include "modbus_request.h"

#include <modbus/modbus.h>
#include <sys/socket.h>

#include <memory>

#include "mbap.h"
#include "register_map.h"

namespace vorlan_gateway {

namespace {

constexpr int kHeader = static_cast<int>(kMbapHeader);
constexpr int kMaxReadBits = 2000;
constexpr int kMaxReadRegisters = 125;

struct MappingFree {
    void operator()(modbus_mapping_t* m) const { modbus_mapping_free(m); }
};
using Mapping = std::unique_ptr<modbus_mapping_t, MappingFree>;

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

RequestOutcome Sent(int rc) { return rc < 0 ? RequestOutcome::SendFailed : RequestOutcome::Answered; }

int ExceptionFor(ControlResult r) {
    switch (r) {
        case ControlResult::Done: return 0;
        case ControlResult::TimedOut:
        case ControlResult::LineDown: return MODBUS_EXCEPTION_GATEWAY_TARGET;
        case ControlResult::Stopping: return MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY;
        default: return MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE;
    }
}

}  // namespace

RequestOutcome RequestHandler::Exception(modbus_t* ctx, const uint8_t* req, int code) {
    // libmodbus adds 0x80 to the function code, which turns 0x80.. into 0x00..;
    // the exception's function code is the request's with the top bit set.
    const uint8_t reply[9] = {req[0], req[1], 0, 0, 0, 3, req[kHeader - 1],
                              static_cast<uint8_t>(req[kHeader] | 0x80), static_cast<uint8_t>(code)};
    const ssize_t n = send(modbus_get_socket(ctx), reply, sizeof reply, MSG_NOSIGNAL);
    return n == static_cast<ssize_t>(sizeof reply) ? RequestOutcome::Answered : RequestOutcome::SendFailed;
}

RequestOutcome RequestHandler::Handle(modbus_t* ctx, const uint8_t* req, int size, ControlRequest& control) const {
    if (size < kHeader + 1) return RequestOutcome::SendFailed;   // framing passes no such request
    const int function = req[kHeader];
    const auto it = units_.find(req[kHeader - 1]);
    if (it == units_.end()) return Exception(ctx, req, MODBUS_EXCEPTION_GATEWAY_PATH);
    if (function != 1 && function != 2 && function != 4 && function != 5 && function != 15) {
        return Exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
    }
    if (size < kHeader + 5) return Exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
    if (function == 5 || function == 15) return Write(req, size, *it->second, control, ctx);
    return Read(ctx, req, size, *it->second);
}

RequestOutcome RequestHandler::Write(const uint8_t* req, int size, RelayPoints& relay, ControlRequest& control,
                                     modbus_t* ctx) const {
    const int address = Word(req + kHeader + 1);
    const int value = Word(req + kHeader + 3);
    bool close = false;
    if (req[kHeader] == 5) {
        if (value != 0xFF00 && value != 0x0000) return Exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
        close = value == 0xFF00;
    } else {
        // One control per request: a multi-coil write is refused whole.
        if (value != 1 || size < kHeader + 7 || req[kHeader + 5] != 1) {
            return Exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
        }
        close = (req[kHeader + 6] & 1) != 0;
    }
    if (!InMap(relay, Table::Coils, address, 1)) return Exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    control = ControlRequest{&relay, address + 1, close};
    return RequestOutcome::Control;
}

RequestOutcome RequestHandler::AnswerControl(modbus_t* ctx, const uint8_t* req, int size, const ControlOutcome& outcome) {
    if (outcome.result != ControlResult::Done) return Exception(ctx, req, ExceptionFor(outcome.result));
    const int address = Word(req + kHeader + 1);
    Mapping m(modbus_mapping_new_start_address(static_cast<unsigned>(address), 1, 0, 0, 0, 0, 0, 0));
    if (!m) return Exception(ctx, req, MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE);
    return Sent(modbus_reply(ctx, req, size, m.get()));
}

RequestOutcome RequestHandler::Read(modbus_t* ctx, const uint8_t* req, int size, RelayPoints& relay) const {
    const int function = req[kHeader];
    const int address = Word(req + kHeader + 1);
    const int count = Word(req + kHeader + 3);
    const Table table = function == 1 ? Table::Coils : function == 2 ? Table::DiscreteInputs : Table::InputRegisters;
    const int limit = function == 4 ? kMaxReadRegisters : kMaxReadBits;
    if (count < 1 || count > limit) return Exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
    if (!InMap(relay, table, address, count)) return Exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    const unsigned first = static_cast<unsigned>(address);
    Mapping m;
    {
        std::lock_guard<std::mutex> hold(relay.lock);
        // A value the driver does not vouch for as current is not served.
        if (!AllGood(relay, table, address, count)) {
            return Exception(ctx, req, MODBUS_EXCEPTION_GATEWAY_TARGET);
        }
        if (function == 4) {
            m.reset(modbus_mapping_new_start_address(0, 0, 0, 0, 0, 0, first, static_cast<unsigned>(count)));
            if (m) FillInputRegisters(relay, address, count, wordsLittle_, NowFileTime(), m->tab_input_registers);
        } else if (function == 2) {
            m.reset(modbus_mapping_new_start_address(0, 0, first, static_cast<unsigned>(count), 0, 0, 0, 0));
            for (int i = 0; m && i < count; ++i) m->tab_input_bits[i] = relay.yxValue[address + i] ? 1 : 0;
        } else {
            m.reset(modbus_mapping_new_start_address(first, static_cast<unsigned>(count), 0, 0, 0, 0, 0, 0));
            for (int i = 0; m && i < count; ++i) m->tab_bits[i] = relay.ykClosed[address + i] ? 1 : 0;
        }
    }
    if (!m) return Exception(ctx, req, MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE);
    return Sent(modbus_reply(ctx, req, size, m.get()));
}

}  // namespace vorlan_gateway
