// SPDX-License-Identifier: Apache-2.0
#pragma once
// The host's monitor on Linux: a datagram socket in the abstract namespace,
// "hostmsgw" unless $VORLAN_MONITOR names another. One line per datagram.

#include <memory>

#include "platform/monitor_sink.h"

namespace vorlan {

std::unique_ptr<MonitorSink> MakeHostMonitorSink();

}  // namespace vorlan
