#pragma once
// How the COMTRADE commands read a recording: whole (plot) or streamed
// (info, export, analyse), a refusal as exit code 7, and the quirks read
// with a warning told on standard error where the output is a table.

#include <string>

#include "commands.h"
#include "reader.h"

namespace vorlan_host {

Status ReadWhole(const std::string& path, const ComtradeReadOptions& read, comtrade::Recording& r);
Status ReadStreamed(const std::string& path, const ComtradeReadOptions& read, comtrade::Recording& r,
                    const comtrade::BlockSink& sink, bool warnOnStderr);

}  // namespace vorlan_host
