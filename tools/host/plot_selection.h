#pragma once
// What plot draws of a recording: the channels named with --channels, the
// samples between --from and --to (seconds from the trigger), and with
// --rms each analog channel's one-cycle RMS, computed before the window is
// cut so that its first cycle is complete.

#include <vector>

#include "commands.h"
#include "recording.h"

namespace vorlan_host {

// Narrows `r` as the options ask; `rms` gets one series per analog channel
// kept when --rms is given. A name or window that selects nothing is a
// usage error.
Status SelectForPlot(const PlotOptions& options, comtrade::Recording& r, std::vector<std::vector<double>>& rms);

}  // namespace vorlan_host
