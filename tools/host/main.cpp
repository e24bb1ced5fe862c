// vorlan-host: a commissioning host that drives the driver through its host
// interface as a SCADA would: poll, write, settings, recordings, probe, and
// the monitor; plus the picture, summary, table and analysis of a COMTRADE
// recording.

#include <CLI/CLI.hpp>

#include <cstdio>

#include "commands.h"
#include "comtrade_options.h"

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

}  // namespace

int main(int argc, char** argv) {
    using namespace vorlan_host;
    CLI::App app{"Commissioning host for the Vorlan relay driver.\n"
                 "Exit codes: 0 done, 1 no answer or no confirmation, 2 bad command line or station file,\n"
                 "3 driver library, 4 port missing or busy, 5 item rejected, 6 setting database, 7 files,\n"
                 "130 stopped by Ctrl-C, 141 output closed by its reader."};
    app.set_version_flag("--version", "vorlan-host " VORLAN_VERSION);
    app.require_subcommand(1);
    app.fallthrough();  // the common options may also follow the sub-command
    CommonOptions common;
    app.add_option("-s,--station", common.station, "station file (TOML)");
    app.add_option("--library", common.library, "load this driver library instead of the registered one");
    app.add_flag("--register", common.registerFirst,
                 "run DllRegisterServer of --library first, then load the driver by its name");
    app.add_flag("--json", common.json, "one JSON object per line");

    PollOptions poll;
    CLI::App* pollCmd = app.add_subcommand("poll", "poll the relays and show their values");
    pollCmd->add_option("-n,--count", poll.count, "stop after this many Send packets");
    pollCmd->add_option("--seconds", poll.seconds, "stop after this many seconds");
    pollCmd->add_option("--interval-ms", poll.intervalMs, "pause between Send packets");
    pollCmd->add_flag("--trace", poll.trace, "mirror the traffic to the monitor (register Show)");

    WriteOptions write;
    CLI::App* writeCmd = app.add_subcommand("write", "one-shot write, followed until the outcome shows");
    writeCmd->add_option("-r,--relay", write.address, "relay address");
    writeCmd->add_option("item", write.item, "register text, e.g. YK5, DZone, DZWR, FG, LBStart, Show")->required();
    writeCmd->add_option("value", write.value,
                         "value; for YK also select-open, select-close, open, close, cancel, direct-open, direct-close")
        ->required();
    writeCmd->add_option("--timeout", write.timeout, "seconds to wait for the outcome")->capture_default_str();
    writeCmd->add_flag("-y,--yes", write.yes, "don't ask before a control, a zone switch or a setting write");

    SettingsOptions settings;
    CLI::App* settingsCmd = app.add_subcommand("settings", "read a zone's settings; edit and write them back");
    settingsCmd->add_option("-r,--relay", settings.address, "relay address");
    settingsCmd->add_option("-z,--zone", settings.zone, "setting zone")->capture_default_str();
    settingsCmd->add_option("--set", settings.edits, "edit before writing: NAME=VALUE, #CODE=VALUE, vID= or bID=");
    settingsCmd->add_flag("--write", settings.write, "write the settings back to the relay");
    settingsCmd->add_option("--dsn", settings.dsn, "ODBC data source of the setting database")->capture_default_str();
    settingsCmd->add_option("--timeout", settings.timeout, "seconds to wait for the relay")->capture_default_str();
    settingsCmd->add_flag("-y,--yes", settings.yes, "don't ask before writing the settings");

    RecordOptions record;
    CLI::App* recordCmd = app.add_subcommand("record", "list a relay's fault recordings and fetch one");
    recordCmd->add_option("-r,--relay", record.address, "relay address");
    recordCmd->add_flag("--list", record.listOnly, "only list the recordings");
    recordCmd->add_option("--fetch", record.fetch, "recording number to fetch (default: the first listed)");
    recordCmd->add_option("--timeout", record.timeout, "seconds for the whole fetch")->capture_default_str();

    PlotOptions plot;
    CLI::App* plotCmd = AddPlotCommand(app, plot);
    InfoOptions info;
    CLI::App* infoCmd = AddInfoCommand(app, info);
    ExportOptions exportTable;
    CLI::App* exportCmd = AddExportCommand(app, exportTable);
    AnalyseOptions analyse;
    CLI::App* analyseCmd = AddAnalyseCommand(app, analyse);

    MonitorOptions monitor;
    CLI::App* monitorCmd = app.add_subcommand("monitor", "print the driver's trace lines with a timestamp");
    monitorCmd->add_option("--name", monitor.name, "monitor name (default $VORLAN_MONITOR or hostmsgw)");
    monitorCmd->add_option("-n,--count", monitor.count, "stop after this many lines");
    monitorCmd->add_option("--seconds", monitor.seconds, "stop after this many seconds");

    ProbeOptions probe;
    CLI::App* probeCmd = app.add_subcommand("probe", "ask each relay for a general poll (ProbeDevice)");
    probeCmd->add_option("-r,--relay", probe.addresses, "relay addresses (default: all)");

    ScanOptions scan;
    CLI::App* scanCmd = app.add_subcommand("scan", "probe a range of addresses on the channel and list who answers");
    scanCmd->add_option("--from", scan.from, "first address")->capture_default_str();
    scanCmd->add_option("--to", scan.to, "last address")->capture_default_str();

    CLI::App* portsCmd = app.add_subcommand("ports", "list the serial ports of this machine");

    ChannelFileOptions channelFile;
    CLI::App* channelFileCmd =
        app.add_subcommand("channel-file", "write or check the channel configuration file of the recordings");
    channelFileCmd->add_option("--init", channelFile.initDir, "write a template (GBK) into this directory");
    channelFileCmd->add_option("--check", channelFile.checkDir, "check the file in this directory");
    channelFileCmd->add_flag("--force", channelFile.force, "replace an existing file (with --init)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return ReportParseError(app, e);
    }
    if (*pollCmd) return RunPoll(common, poll);
    if (*writeCmd) return RunWrite(common, write);
    if (*settingsCmd) return RunSettings(common, settings);
    if (*recordCmd) return RunRecord(common, record);
    if (*plotCmd) return RunPlot(common, plot);
    if (*infoCmd) return RunInfo(common, info);
    if (*exportCmd) return RunExport(common, exportTable);
    if (*analyseCmd) return RunAnalyse(common, analyse);
    if (*monitorCmd) return RunMonitor(common, monitor);
    if (*probeCmd) return RunProbe(common, probe);
    if (*scanCmd) return RunScan(common, scan);
    if (*portsCmd) return RunPorts(common);
    if (*channelFileCmd) return RunChannelFile(common, channelFile);
    return kExitUsage;
}
