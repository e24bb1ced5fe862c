#pragma once
// Draws a COMTRADE recording with cairo: one lane per analog channel, the
// digital words as step traces, the trigger marked.

#include <string>

#include "comtrade_reader.h"

namespace vorlan_host {

// Writes `base`.svg and `base`.png. Empty text on success.
std::string PlotComtrade(const Comtrade& recording, const std::string& base, int width = 1400);

}  // namespace vorlan_host
