// SPDX-License-Identifier: Apache-2.0
#include "comtrade_options.h"

namespace vorlan_host {

namespace {

constexpr const char* kFileHelp = "the recording's .CFG or .CFF file";

void AddReadOptions(CLI::App* cmd, ComtradeReadOptions& o) {
    cmd->add_option("--encoding", o.encoding, "texts' encoding (default: UTF-8, else GBK, else Latin-1)");
    cmd->add_flag("--strict", o.strict, "refuse the quirks that are otherwise read with a warning (exit 7)");
}

}  // namespace

CLI::App* AddPlotCommand(CLI::App& app, PlotOptions& o) {
    CLI::App* cmd = app.add_subcommand("plot", "draw a COMTRADE recording as SVG and PNG");
    cmd->add_option("cfg", o.cfg, kFileHelp)->required();
    cmd->add_option("-o,--out", o.out, "base name of the pictures (default: the file's)");
    cmd->add_option("--width", o.width, "picture width in pixels")->capture_default_str();
    cmd->add_flag("--rms", o.rms, "draw each analog channel's one-cycle RMS beside its samples");
    cmd->add_option("--from", o.from, "start of the window, seconds from the trigger");
    cmd->add_option("--to", o.to, "end of the window, seconds from the trigger");
    cmd->add_option("--channels", o.channels, "draw only these channels, by name (IA,IB,IC,...)")->delimiter(',');
    cmd->add_option("--freq", o.freq, "line frequency for --rms (default: the file's)");
    cmd->add_option("--scale", o.scale, "unit: channels of one unit share a scale per page; channel: each its own")
        ->check(CLI::IsMember({"unit", "channel"}))
        ->capture_default_str();
    cmd->add_option("--bits", o.bits,
                    "names of status word bits, one 'bitN name' per line (default: a .bits file beside the recording)");
    AddReadOptions(cmd, o.read);
    return cmd;
}

CLI::App* AddInfoCommand(CLI::App& app, InfoOptions& o) {
    CLI::App* cmd = app.add_subcommand("info", "summarise a COMTRADE recording (--json for one JSON object)");
    cmd->add_option("file", o.file, kFileHelp)->required();
    AddReadOptions(cmd, o.read);
    return cmd;
}

CLI::App* AddExportCommand(CLI::App& app, ExportOptions& o) {
    CLI::App* cmd = app.add_subcommand("export", "a COMTRADE recording's samples as a CSV table");
    cmd->add_option("file", o.file, kFileHelp)->required();
    cmd->add_flag("--csv", o.csv, "comma-separated values (the default)");
    cmd->add_option("-o,--out", o.out, "write the table here (default: standard output)");
    AddReadOptions(cmd, o.read);
    return cmd;
}

CLI::App* AddAnalyseCommand(CLI::App& app, AnalyseOptions& o) {
    CLI::App* cmd = app.add_subcommand(
        "analyse", "RMS, phasors, sequence components, harmonics and digital changes of a COMTRADE recording");
    cmd->add_option("file", o.file, kFileHelp)->required();
    cmd->add_option("--at", o.at, "time of the phasors and harmonics, seconds from the trigger (default: one cycle after it)");
    cmd->add_option("--freq", o.freq, "line frequency in Hz (default: the file's)");
    cmd->add_option("--ref", o.reference, "channel the angles are referred to (default: the first analog channel)");
    cmd->add_option("--set", o.sets, "a three-phase set by channel names, A,B,C (default: from the configuration)");
    cmd->add_flag("--csv", o.csv, "the one-cycle RMS and phasor series as a CSV table");
    cmd->add_option("-o,--out", o.out, "write the --csv table here (default: standard output)");
    AddReadOptions(cmd, o.read);
    return cmd;
}

}  // namespace vorlan_host
