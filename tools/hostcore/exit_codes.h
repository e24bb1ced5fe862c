// SPDX-License-Identifier: Apache-2.0
#pragma once
// Exit codes of vorlan-host, one per kind of trouble, so scripts can tell
// a bad station file from a missing port or a relay that doesn't answer.

#include <string>

namespace vorlan_host {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;        // the relay did not answer or confirm in time
constexpr int kExitUsage = 2;         // bad command line or station file
constexpr int kExitLibrary = 3;       // the driver can't be found, loaded or created
constexpr int kExitPort = 4;          // the port is missing, busy or refuses its settings
constexpr int kExitItem = 5;          // the driver rejected an item of the station file,
                                      // or a setting value the relay can't take as it is
constexpr int kExitDatabase = 6;      // the setting database can't be used
constexpr int kExitFile = 7;          // a recording file can't be read or a picture written
constexpr int kExitInterrupted = 130; // stopped by Ctrl-C (128 + SIGINT, as shells report it)
constexpr int kExitPipeClosed = 141;  // the reader of the output went away (128 + SIGPIPE)

struct Status {
    int code = kExitOk;
    std::string message;
    bool ok() const { return code == kExitOk; }
    static Status Ok() { return {}; }
};

}  // namespace vorlan_host
