// SPDX-License-Identifier: Apache-2.0
#pragma once
// The text of the two recording files (COMTRADE, ASCII data), every line
// ended by CR LF.

#include <cstdint>
#include <string>

#include "faultrec/channel_table.h"
#include "model/device_record.h"

namespace vorlan {

// The 26 lines of the configuration file for list entry `position` (0..3).
// Commas inside channel tokens become blanks, and numeric fields of channel
// rows the channel file leaves empty get neutral values, so every field stays
// in its place and a reader can load the file.
std::string FormatConfiguration(const DeviceRecord& relay, int32_t position,
                                const ChannelTable& channels);

// One line per stored sample of list entry `position` (0..3); empty without
// sample buffers.
std::string FormatData(const DeviceRecord& relay, int32_t position);

}  // namespace vorlan
