// SPDX-License-Identifier: Apache-2.0
// vorlan-host: a commissioning host that drives the driver through its host
// interface as a SCADA would: poll, write, settings, recordings, probe, and
// the monitor; plus the picture, summary, table and analysis of a COMTRADE
// recording.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <vector>

#include "commands.h"
#include "comtrade_options.h"

namespace vorlan_host {
namespace {

// A word where the subcommand goes that names none is reported as such, with
// the subcommands there are; other mistakes get CLI11's own message.
int ReportParseError(CLI::App& app, const CLI::ParseError& e) {
    if (app.get_subcommands().empty()) {
        for (const std::string& word : app.remaining()) {
            if (word.empty() || word[0] == '-') continue;
            std::string names;
            for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
                names += (names.empty() ? "" : ", ") + sub->get_name();
            }
            std::fprintf(stderr, "vorlan-host: '%s' is not a subcommand; the subcommands are: %s\n", word.c_str(),
                         names.c_str());
            return vorlan_host::kExitUsage;
        }
    }
    const int code = app.exit(e);
    return code == 0 ? vorlan_host::kExitOk : vorlan_host::kExitUsage;
}

// Every option of every sub-command, alive for as long as main runs.
struct Options {
    CommonOptions common;
    PollOptions poll;
    WriteOptions write;
    SettingsOptions settings;
    RecordOptions record;
    PlotOptions plot;
    InfoOptions info;
    ExportOptions exportTable;
    AnalyseOptions analyse;
    MonitorOptions monitor;
    ProbeOptions probe;
    ScanOptions scan;
    ChannelFileOptions channelFile;
};

// A sub-command as CLI11 marks it chosen, and what runs it.
struct Subcommand {
    CLI::App* app;
    std::function<int()> run;
};

void AddCommonOptions(CLI::App& app, CommonOptions& common) {
    app.add_option("-s,--station", common.station, "station file (TOML)");
    app.add_option("--library", common.library, "load this driver library instead of the registered one");
    app.add_flag("--register", common.registerFirst,
                 "run DllRegisterServer of --library first, then load the driver by its name");
    app.add_flag("--json", common.json, "one JSON object per line");
}

// The commands that talk to relays on the line: poll, write, settings, record.
void AddLineCommands(CLI::App& app, Options& o, std::vector<Subcommand>& subs) {
    CLI::App* pollCmd = app.add_subcommand("poll", "poll the relays and show their values");
    pollCmd->add_option("-n,--count", o.poll.count, "stop after this many Send packets");
    pollCmd->add_option("--seconds", o.poll.seconds, "stop after this many seconds");
    pollCmd->add_option("--interval-ms", o.poll.intervalMs, "pause between Send packets");
    pollCmd->add_flag("--trace", o.poll.trace, "mirror the traffic to the monitor (register Show)");
    subs.push_back({pollCmd, [&o] { return RunPoll(o.common, o.poll); }});

    CLI::App* writeCmd = app.add_subcommand("write", "one-shot write, followed until the outcome shows");
    writeCmd->add_option("-r,--relay", o.write.address, "relay address");
    writeCmd->add_option("item", o.write.item, "register text, e.g. YK5, DZone, DZWR, FG, LBStart, Show")->required();
    writeCmd->add_option("value", o.write.value,
                         "value; for YK also select-open, select-close, open, close, cancel, direct-open, direct-close")
        ->required();
    writeCmd->add_option("--timeout", o.write.timeout, "seconds to wait for the outcome")->capture_default_str();
    writeCmd->add_flag("-y,--yes", o.write.yes, "don't ask before a control, a zone switch or a setting write");
    subs.push_back({writeCmd, [&o] { return RunWrite(o.common, o.write); }});

    SettingsOptions& settings = o.settings;
    CLI::App* settingsCmd = app.add_subcommand("settings", "read a zone's settings; edit and write them back");
    settingsCmd->add_option("-r,--relay", settings.address, "relay address");
    settingsCmd->add_option("-z,--zone", settings.zone, "setting zone")->capture_default_str();
    settingsCmd->add_option("--set", settings.edits, "edit before writing: NAME=VALUE, #CODE=VALUE, vID= or bID=");
    settingsCmd->add_flag("--write", settings.write, "write the settings back to the relay");
    settingsCmd->add_option("--dsn", settings.dsn, "ODBC data source of the setting database")->capture_default_str();
    settingsCmd->add_option("--timeout", settings.timeout, "seconds to wait for the relay")->capture_default_str();
    settingsCmd->add_flag("-y,--yes", settings.yes, "don't ask before writing the settings");
    subs.push_back({settingsCmd, [&o] { return RunSettings(o.common, o.settings); }});

    CLI::App* recordCmd = app.add_subcommand("record", "list a relay's fault recordings and fetch one");
    recordCmd->add_option("-r,--relay", o.record.address, "relay address");
    recordCmd->add_flag("--list", o.record.listOnly, "only list the recordings");
    recordCmd->add_option("--fetch", o.record.fetch, "recording number to fetch (default: the first listed)");
    recordCmd->add_option("--timeout", o.record.timeout, "seconds for the whole fetch")->capture_default_str();
    subs.push_back({recordCmd, [&o] { return RunRecord(o.common, o.record); }});
}

// The commands on a COMTRADE recording: plot, info, export, analyse.
void AddRecordingCommands(CLI::App& app, Options& o, std::vector<Subcommand>& subs) {
    subs.push_back({AddPlotCommand(app, o.plot), [&o] { return RunPlot(o.common, o.plot); }});
    subs.push_back({AddInfoCommand(app, o.info), [&o] { return RunInfo(o.common, o.info); }});
    subs.push_back({AddExportCommand(app, o.exportTable), [&o] { return RunExport(o.common, o.exportTable); }});
    subs.push_back({AddAnalyseCommand(app, o.analyse), [&o] { return RunAnalyse(o.common, o.analyse); }});
}

// The commissioning aids: monitor, probe, scan, ports, channel-file.
void AddCommissioningCommands(CLI::App& app, Options& o, std::vector<Subcommand>& subs) {
    CLI::App* monitorCmd = app.add_subcommand("monitor", "print the driver's trace lines with a timestamp");
    monitorCmd->add_option("--name", o.monitor.name, "monitor name (default $VORLAN_MONITOR or hostmsgw)");
    monitorCmd->add_option("-n,--count", o.monitor.count, "stop after this many lines");
    monitorCmd->add_option("--seconds", o.monitor.seconds, "stop after this many seconds");
    subs.push_back({monitorCmd, [&o] { return RunMonitor(o.common, o.monitor); }});

    CLI::App* probeCmd = app.add_subcommand("probe", "ask each relay for a general poll (ProbeDevice)");
    probeCmd->add_option("-r,--relay", o.probe.addresses, "relay addresses (default: all)");
    subs.push_back({probeCmd, [&o] { return RunProbe(o.common, o.probe); }});

    CLI::App* scanCmd = app.add_subcommand("scan", "probe a range of addresses on the channel and list who answers");
    scanCmd->add_option("--from", o.scan.from, "first address")->capture_default_str();
    scanCmd->add_option("--to", o.scan.to, "last address")->capture_default_str();
    subs.push_back({scanCmd, [&o] { return RunScan(o.common, o.scan); }});

    CLI::App* portsCmd = app.add_subcommand("ports", "list the serial ports of this machine");
    subs.push_back({portsCmd, [&o] { return RunPorts(o.common); }});

    CLI::App* channelFileCmd =
        app.add_subcommand("channel-file", "write or check the channel configuration file of the recordings");
    channelFileCmd->add_option("--init", o.channelFile.initDir, "write a template (GBK) into this directory");
    channelFileCmd->add_option("--check", o.channelFile.checkDir, "check the file in this directory");
    channelFileCmd->add_flag("--force", o.channelFile.force, "replace an existing file (with --init)");
    subs.push_back({channelFileCmd, [&o] { return RunChannelFile(o.common, o.channelFile); }});
}

}  // namespace
}  // namespace vorlan_host

int main(int argc, char** argv) {
    CLI::App app{"Commissioning host for the Vorlan relay driver.\n"
                 "Exit codes: 0 done, 1 no answer or no confirmation, 2 bad command line or station file,\n"
                 "3 driver library, 4 port missing or busy, 5 item rejected, 6 setting database, 7 files,\n"
                 "130 stopped by Ctrl-C, 141 output closed by its reader."};
    app.set_version_flag("--version", "vorlan-host " VORLAN_VERSION);
    app.require_subcommand(1);
    app.fallthrough();  // the common options may also follow the sub-command
    using namespace vorlan_host;
    Options options;
    AddCommonOptions(app, options.common);
    // Registered in this order so --help lists them as before.
    std::vector<Subcommand> subs;
    AddLineCommands(app, options, subs);
    AddRecordingCommands(app, options, subs);
    AddCommissioningCommands(app, options, subs);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return ReportParseError(app, e);
    }
    for (const Subcommand& sub : subs) {
        if (*sub.app) return sub.run();
    }
    return vorlan_host::kExitUsage;
}
