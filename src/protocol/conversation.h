// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one way the other subsystems change what a relay is asked next: the
// conversation belongs to the protocol, which also sets it from answers.

#include "model/commands.h"
#include "model/device_record.h"

namespace vorlan {

// `request` goes to `relay` on its next turn (unless the builder substitutes
// a due time synchronisation, confirmation or running retrieval).
inline void AskNext(DeviceRecord& relay, Request request) {
    relay.conversation.nextCommand = request;
}

}  // namespace vorlan
