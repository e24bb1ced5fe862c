#pragma once
// One whole Modbus TCP request (MBAP header and PDU): reads are answered at
// once from the relays' points; a coil write is handed back as a control
// for the caller to run and answer with AnswerControl. Answers go out on
// the libmodbus context's socket.

#include <cstdint>
#include <map>

#include "control_order.h"
#include "relay_points.h"

typedef struct _modbus modbus_t;

namespace vorlan_gateway {

struct ControlRequest {
    RelayPoints* relay = nullptr;
    int point = 0;               // YK point 1..64
    bool close = false;
};

enum class RequestOutcome {
    Answered,                    // a reply or an exception went out
    Control,                     // a control to run; nothing sent yet
    SendFailed,                  // the reply could not be written: drop the connection
};

class RequestHandler {
public:
    RequestHandler(std::map<int, RelayPoints*> units, bool wordsLittle)
        : units_(std::move(units)), wordsLittle_(wordsLittle) {}

    RequestOutcome Handle(modbus_t* ctx, const uint8_t* req, int size, ControlRequest& control) const;

    // The answer to a control request once its outcome is known.
    static RequestOutcome AnswerControl(modbus_t* ctx, const uint8_t* req, int size, const ControlOutcome& outcome);
    // A standard exception reply; the function code is the request's with
    // its top bit set, also for a request that had it set already.
    static RequestOutcome Exception(modbus_t* ctx, const uint8_t* req, int code);

private:
    RequestOutcome Read(modbus_t* ctx, const uint8_t* req, int size, RelayPoints& relay) const;
    RequestOutcome Write(const uint8_t* req, int size, RelayPoints& relay, ControlRequest& control,
                         modbus_t* ctx) const;

    std::map<int, RelayPoints*> units_;
    bool wordsLittle_;
};

}  // namespace vorlan_gateway
