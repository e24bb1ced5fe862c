// SPDX-License-Identifier: Apache-2.0
#pragma once
// Draws a COMTRADE recording with cairo: one lane per analog channel with
// gaps where values are missing, channels of one unit on one scale, the
// status channels as step traces (a status word as one row per bit that
// changes), the trigger and the rate changes marked on a time axis that
// counts from the trigger. Many channels are split into pages, so no picture
// passes cairo's size limit. The SVG carries its labels as text elements.

#include <string>
#include <vector>

#include "recording.h"
#include "status_bits.h"

namespace vorlan_host {

struct PlotStyle {
    int width = 1400;
    // Every analog channel on its own scale, rather than one per unit and page.
    bool scalePerChannel = false;
    // One series per analog channel, one value per sample: each lane also
    // shows that RMS trace.
    const std::vector<std::vector<double>>* rms = nullptr;
    // Names for the bits of status words; without them, bit numbers.
    const BitNames* bits = nullptr;
};

// Writes `base`.svg and `base`.png, then `base`-p2.svg/.png and so on for
// further pages; all or none of them. Empty text on success, with the files
// written in `files`.
std::string PlotComtrade(const comtrade::Recording& recording, const std::string& base, const PlotStyle& style,
                         std::vector<std::string>& files);

}  // namespace vorlan_host
