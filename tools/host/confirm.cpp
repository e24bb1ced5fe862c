// SPDX-License-Identifier: Apache-2.0
#include "confirm.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <iostream>

namespace vorlan_host {

Status ConfirmChange(const std::string& what, bool yes) {
    if (yes) return Status::Ok();
    if (!isatty(STDIN_FILENO)) {
        return {kExitUsage, "not done: " + what + " needs confirmation and standard input is not a terminal; "
                            "add --yes to go ahead"};
    }
    std::fprintf(stderr, "About to %s. Go ahead? [y/N] ", what.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) answer.clear();
    for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (answer == "y" || answer == "yes") return Status::Ok();
    return {kExitFailed, "not confirmed: nothing was sent"};
}

}  // namespace vorlan_host
