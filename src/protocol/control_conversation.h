#pragma once
// The one owner of a relay's remote-control steps. The host's YK writes, the
// request builder, the answer pairing and the packet cycle ask here; nothing
// else changes ControlSelection::step.

#include <cstdint>

#include "model/device_record.h"

namespace vorlan {

// The host selects `point` with `command` (close or open); the select goes
// out at the relay's next turn. Any earlier control of the relay is dropped.
void SelectControl(DeviceRecord& relay, int32_t point, int32_t command);

// The host cancels: nothing of the control goes out any more.
void CancelControl(DeviceRecord& relay);

// Whether the builder may send `code` (0x98 or 0x9A) to the relay now; any
// other code is always allowed.
bool ControlRequestAllowed(const DeviceRecord& relay, Request code);

// The builder wrote 0x98 or 0x9A to the relay.
void ControlRequestWritten(DeviceRecord& relay, Request code);

// The relay confirmed the select it was sent: the execute goes out next.
void ControlSelectConfirmed(DeviceRecord& relay);

// The relay reported the outcome of the executed control.
void ControlResultTaken(DeviceRecord& relay, uint8_t done);

// The exchange with the relay ended. A select still unconfirmed has failed:
// it is dropped and false is returned, so the host sees the failure.
bool ControlExchangeEnded(DeviceRecord& relay);

// The exchange with the relay failed: a control not yet executed is dropped.
void ControlExchangeFailed(DeviceRecord& relay);

// The watch after the execute stopped serving the relay: no result counts now.
void ControlWatchEnded(DeviceRecord& relay);

}  // namespace vorlan
