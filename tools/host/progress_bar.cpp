// SPDX-License-Identifier: Apache-2.0
#include "progress_bar.h"

#include <unistd.h>

#include <cstdio>

namespace vorlan_host {

ProgressBar::ProgressBar(std::string label, std::string unit)
    : label_(std::move(label)),
      unit_(std::move(unit)),
      terminal_(isatty(STDERR_FILENO) != 0),
      start_(std::chrono::steady_clock::now()) {}

void ProgressBar::Update(long done, long total) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
    const double remaining = done > 0 && total > 0 ? elapsed / static_cast<double>(done) * static_cast<double>(total - done) : 0.0;
    char times[64];
    if (done > 0 && total > 0) {
        std::snprintf(times, sizeof times, "%.0f s elapsed, %.0f s to go", elapsed, remaining);
    } else {
        std::snprintf(times, sizeof times, "%.0f s elapsed", elapsed);
    }
    char counts[48];
    if (total > 0) std::snprintf(counts, sizeof counts, "%ld/%ld %s", done, total, unit_.c_str());
    else std::snprintf(counts, sizeof counts, "%ld %s", done, unit_.c_str());
    if (terminal_) {
        constexpr int kWidth = 30;
        const int filled = static_cast<int>(fraction * kWidth + 0.5);
        std::string bar(static_cast<size_t>(filled), '#');
        bar.resize(kWidth, '.');
        std::fprintf(stderr, "\r%s [%s] %3.0f%%  %s, %s   ", label_.c_str(), bar.c_str(), fraction * 100, counts, times);
    } else {
        const int tenth = static_cast<int>(fraction * 10);
        if (tenth == lastTenth_) return;
        lastTenth_ = tenth;
        std::fprintf(stderr, "%s %3.0f%%  %s, %s\n", label_.c_str(), fraction * 100, counts, times);
    }
    std::fflush(stderr);
}

void ProgressBar::Finish() {
    if (terminal_) std::fprintf(stderr, "\n");
    std::fflush(stderr);
}

}  // namespace vorlan_host
