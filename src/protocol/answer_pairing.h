#pragma once
// Which answers may move a relay's conversation, and when: an answer counts
// only for the request it answers. Answers that only carry data are taken
// from the relay asked whatever the request; the others only where the
// relay's conversation waits for them.

#include <cstdint>

#include "model/byte_view.h"
#include "model/device_record.h"

namespace vorlan {

// The request `code` went out to `relay`; its answer is due.
void RequestWritten(DeviceRecord& relay, Request code);

// Whether `frame`, a checked answer of `relay`, answers what the relay was
// asked (`relay.conversation.awaiting`) or what its conversation waits for.
bool AnswerAwaited(const DeviceRecord& relay, ByteView frame);

// Whether `frame` is the empty 0x06 that acknowledges the setting write (or
// its confirmation) the relay was sent.
bool WriteAcknowledged(const DeviceRecord& relay, ByteView frame);

// The exchange with `relay` ended, answered or not: nothing more is due.
// False when the request's purpose failed (a select left unconfirmed).
bool ExchangeEnded(DeviceRecord& relay);

}  // namespace vorlan
