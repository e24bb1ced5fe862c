// SPDX-License-Identifier: Apache-2.0
#pragma once
// Writing a complete recording as its configuration (.CFG) and data (.DAT)
// files.

#include <string>

#include "model/device_record.h"

namespace vorlan {

// The name of the channel configuration file in the recording directory.
extern const char* const kChannelFileName;

// Writes the recording of list entry lbIndex into `directory` (ending in '/')
// as lbTime[lbIndex] + ".CFG" and + ".DAT" (nothing without sample buffers), with the channel rows from the
// channel configuration file there, and sets lbFilesWritten = 1 once both
// files and the directory are flushed to disk. The pair replaces an earlier
// one of the same name only when both files are written completely; on any
// failure the earlier files stay as they were, nothing is reported and
// lbFilesWritten is unchanged. Temporary files that crashed writers left in
// `directory` are removed first.
void WriteRecordingFiles(DeviceRecord& relay, const std::string& directory);

}  // namespace vorlan
