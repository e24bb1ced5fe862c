// Bytes as a Modbus TCP client may send them, through the gateway's framing
// and request handling, with the replies read back from a socket pair. Every
// whole frame gets exactly one reply that echoes its transaction id, unit and
// function (or the function with the top bit set); a malformed header ends
// the stream and nothing after it is answered.

#include <modbus/modbus.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "mbap.h"
#include "modbus_request.h"

using namespace vorlan_gateway;

namespace {

struct Fixture {
    RelayPoints relay;
    RequestHandler* handler = nullptr;

    Fixture() {
        relay.unit = 1;
        relay.allowControl = true;
        for (int i = 0; i < 4; ++i) relay.yc[i] = relay.yk[i] = true;
        for (int i = 0; i < 2; ++i) relay.ym[i] = true;
        for (int i = 0; i < 16; ++i) relay.yx[i] = true;
        // Some values current, some never reported, one last known.
        for (int i = 0; i < 3; ++i) relay.ycQuality[i] = VORLAN_QUALITY_GOOD;
        relay.ymQuality[0] = VORLAN_QUALITY_LAST_KNOWN;
        for (int i = 0; i < 16; ++i) relay.yxQuality[i] = VORLAN_QUALITY_GOOD;
        handler = new RequestHandler({{1, &relay}}, false);
    }
};

// Reads one reply from `s` and checks it against `req`.
void CheckReply(int s, const uint8_t* req) {
    uint8_t reply[kMaxAdu + 16];
    const ssize_t n = recv(s, reply, sizeof reply, MSG_DONTWAIT);
    if (n < 9) std::abort();   // every whole frame is answered
    size_t size = 0;
    if (CheckMbap(reply, static_cast<size_t>(n), size) != FrameState::Whole || size != static_cast<size_t>(n)) {
        std::abort();
    }
    if (reply[0] != req[0] || reply[1] != req[1] || reply[6] != req[6]) std::abort();
    const uint8_t function = req[7];
    if (reply[7] != function && reply[7] != (function | 0x80)) std::abort();
    if ((reply[7] & 0x80) && n != 9) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture fixture;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", 1502);
    modbus_set_socket(ctx, pair[0]);
    size_t at = 0;
    for (;;) {
        size_t frame = 0;
        if (CheckMbap(data + at, size - at, frame) != FrameState::Whole) break;
        const uint8_t* req = data + at;
        ControlRequest control;
        RequestOutcome out = fixture.handler->Handle(ctx, req, static_cast<int>(frame), control);
        if (out == RequestOutcome::Control) {
            if (control.relay != &fixture.relay || control.point < 1 || control.point > 4) std::abort();
            const ControlOutcome outcome{static_cast<ControlResult>(req[0] % 6), {}};
            out = RequestHandler::AnswerControl(ctx, req, static_cast<int>(frame), outcome);
        }
        if (out != RequestOutcome::Answered) std::abort();
        CheckReply(pair[1], req);
        at += frame;
    }
    // Nothing is sent but the replies already read.
    uint8_t extra;
    if (recv(pair[1], &extra, 1, MSG_DONTWAIT) > 0) std::abort();
    modbus_free(ctx);
    close(pair[0]);
    close(pair[1]);
    return 0;
}
