#pragma once
// Draws a COMTRADE recording with cairo: one lane per analog channel with
// gaps where values are missing, the status channels as step traces, the
// trigger and the rate changes marked on the samples' time axis. Many
// channels are split into pages, so no picture passes cairo's size limit.

#include <string>
#include <vector>

#include "recording.h"

namespace vorlan_host {

// Writes `base`.svg and `base`.png, then `base`-p2.svg/.png and so on for
// further pages; all or none of them. Empty text on success, with the files
// written in `files`. With `rms` (one series per analog channel, one value
// per sample), each lane also shows that RMS trace.
std::string PlotComtrade(const comtrade::Recording& recording, const std::string& base, int width,
                         std::vector<std::string>& files, const std::vector<std::vector<double>>* rms = nullptr);

}  // namespace vorlan_host
