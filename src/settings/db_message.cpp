// SPDX-License-Identifier: Apache-2.0
#include "settings/db_message.h"

#include <poll.h>
#include <unistd.h>

#include <cstring>

namespace vorlan {

void ReportSettingDbFailure() {
    char line[sizeof kSettingDbFailureText + 1];
    const size_t length = sizeof kSettingDbFailureText - 1;
    std::memcpy(line, kSettingDbFailureText, length);
    line[length] = '\n';
    // A pipe that polls writable has room for a line this short (below
    // PIPE_BUF), so the write neither blocks nor splits.
    pollfd pfd{STDERR_FILENO, POLLOUT, 0};
    if (poll(&pfd, 1, 0) != 1 || (pfd.revents & POLLOUT) == 0) return;
    const ssize_t written = write(STDERR_FILENO, line, length + 1);
    (void)written;  // nothing more to do if standard error is gone
}

}  // namespace vorlan
