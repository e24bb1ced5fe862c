#include "protocol/control_conversation.h"

#include "protocol/conversation.h"

namespace vorlan {
namespace {

constexpr int32_t kNotWaiting = 255;  // ykState: no selection waits to go out

void Drop(DeviceRecord& relay) {
    relay.control.step = ControlStep::None;
    relay.control.ykState = kNotWaiting;
}

}  // namespace

void SelectControl(DeviceRecord& relay, int32_t point, int32_t command) {
    AskNext(relay, Request::ControlSelect);
    relay.control.ykPoint = point;
    relay.control.ykCommand = command;
    relay.control.ykState = 1;
    relay.control.step = ControlStep::SelectWanted;
}

void CancelControl(DeviceRecord& relay) {
    AskNext(relay, Request::GeneralPoll);
    relay.control.ykPoint = 0;
    relay.control.ykCommand = 0;
    Drop(relay);
}

bool ControlRequestAllowed(const DeviceRecord& relay, Request code) {
    if (code == Request::ControlSelect) return relay.control.step == ControlStep::SelectWanted;
    if (code == Request::ControlExecute) return relay.control.step == ControlStep::ExecuteWanted;
    return true;
}

void ControlRequestWritten(DeviceRecord& relay, Request code) {
    if (code == Request::ControlSelect) {
        relay.control.step = ControlStep::SelectSent;
        relay.control.ykState = kNotWaiting;
    } else if (code == Request::ControlExecute) {
        relay.control.step = ControlStep::ExecuteSent;
    }
}

void ControlSelectConfirmed(DeviceRecord& relay) {
    relay.control.step = ControlStep::ExecuteWanted;
    AskNext(relay, Request::ControlExecute);
}

void ControlResultTaken(DeviceRecord& relay, uint8_t done) {
    if (done == VORLAN_YK_CLOSE) relay.control.ykAction = VORLAN_YK_ACTION_CLOSE_CONFIRMED;
    if (done == VORLAN_YK_OPEN) relay.control.ykAction = VORLAN_YK_ACTION_OPEN_CONFIRMED;
    relay.control.step = ControlStep::None;
}

bool ControlExchangeEnded(DeviceRecord& relay) {
    if (relay.control.step != ControlStep::SelectSent) return true;
    Drop(relay);
    AskNext(relay, Request::GeneralPoll);
    return false;
}

void ControlExchangeFailed(DeviceRecord& relay) {
    if (relay.control.step != ControlStep::ExecuteSent) Drop(relay);
}

void ControlWatchEnded(DeviceRecord& relay) {
    if (relay.control.step == ControlStep::ExecuteSent) relay.control.step = ControlStep::None;
}

}  // namespace vorlan
