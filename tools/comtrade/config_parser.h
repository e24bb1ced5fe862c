#pragma once
// The configuration file (.CFG, or the CFG section of a .CFF) of the 1991,
// 1999 and 2013 revisions, its texts already in UTF-8.

#include <string>
#include <vector>

#include "recording.h"
#include "refusal.h"
#include "warnings.h"

namespace comtrade {

// Fills the configuration fields of `out`; throws Refusal naming `file` and
// the line when a line is not what its place asks for. Quirks that leave the
// meaning clear go to `warnings`.
void ParseConfiguration(const std::string& file, const std::vector<TextLine>& lines, Warnings& warnings,
                        Recording& out);

}  // namespace comtrade
