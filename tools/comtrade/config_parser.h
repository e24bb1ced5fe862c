#pragma once
// The configuration file (.CFG, or the CFG section of a .CFF) of the 1991,
// 1999 and 2013 revisions, its texts already in UTF-8.

#include <string>
#include <vector>

#include "recording.h"
#include "refusal.h"

namespace comtrade {

// Fills the configuration fields of `out`; throws Refusal naming `file` and
// the line when a line is not what its place asks for.
void ParseConfiguration(const std::string& file, const std::vector<TextLine>& lines, Recording& out);

}  // namespace comtrade
