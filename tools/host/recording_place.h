#pragma once
// Where the driver writes fault recordings and what it needs there: the
// directory (which it never creates) and the channel configuration file it
// reads for the station name and the channel rows. Checked before a fetch,
// so that a fetch never runs to its end only to write nothing.

#include <string>

#include "exit_codes.h"

namespace vorlan_host {

extern const char* const kChannelFileName;  // "通道配置文件.txt"
constexpr size_t kChannelFileTokens = 1 + 16 * 10 + 2 * 3;

// The directory as the driver picks it: $VORLAN_RECORDING_DIR, else its
// default; always with a trailing '/'.
std::string RecordingDirectory();

// Why `bytes` can't be the driver's GBK text; empty when they can.
std::string GbkTextProblem(const std::string& bytes);

// Checks the directory and its channel configuration file; the status names
// the path and what to do (kExitFile). `tokens` gets the file's token count.
Status CheckRecordingPlace(const std::string& dir, size_t* tokens = nullptr);

// The white-space separated tokens of a channel configuration file.
size_t CountTokens(const std::string& bytes);

// Where the tokens stop fitting the channel rows, as "line N: what": an index
// out of its sequence or a text where a number belongs is what one missing or
// extra token shifts every later row into. Empty when every row fits.
std::string ChannelFileProblem(const std::string& bytes);

}  // namespace vorlan_host
