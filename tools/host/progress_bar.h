// SPDX-License-Identifier: Apache-2.0
#pragma once
// A progress line on standard error (standard output keeps the results): a
// bar redrawn in place on a terminal, a line every tenth otherwise.

#include <chrono>
#include <string>

namespace vorlan_host {

class ProgressBar {
public:
    explicit ProgressBar(std::string label, std::string unit = "samples");
    // `done` of `total` (total 0: not known yet).
    void Update(long done, long total);
    void Finish();

private:
    std::string label_;
    std::string unit_;
    bool terminal_;
    int lastTenth_ = -1;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace vorlan_host
