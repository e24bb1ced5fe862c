#pragma once
// The command-line options of the COMTRADE commands (plot, info, export,
// analyse), kept beside the commands rather than in main.

#include <CLI/CLI.hpp>

#include "commands.h"

namespace vorlan_host {

CLI::App* AddPlotCommand(CLI::App& app, PlotOptions& o);
CLI::App* AddInfoCommand(CLI::App& app, InfoOptions& o);
CLI::App* AddExportCommand(CLI::App& app, ExportOptions& o);
CLI::App* AddAnalyseCommand(CLI::App& app, AnalyseOptions& o);

}  // namespace vorlan_host
