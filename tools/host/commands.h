// SPDX-License-Identifier: Apache-2.0
#pragma once
// The sub-commands of vorlan-host. Each returns an exit code (exit_codes.h).

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "driver_library.h"
#include "exit_codes.h"
#include "host_session.h"

namespace vorlan_host {

struct CommonOptions {
    std::string station;        // station file
    std::string library;        // load this library instead of the registered one
    bool registerFirst = false; // run DllRegisterServer of --library first
    bool json = false;          // one JSON object per line
};

// Loads the station, the driver and a component; opens the channel when asked.
struct Setup {
    std::unique_ptr<DriverLibrary> library;
    std::unique_ptr<HostSession> session;
};
Status OpenSetup(const CommonOptions& options, bool checkItems, bool openChannel, Setup& setup);
// Relay index of an address given on the command line.
Status PickRelay(HostSession& session, int address, size_t& relay);
// OpenSetup with the channel open, the relay picked by `address`, and the stop
// handler installed: the start of every command that talks to one relay.
Status OpenRelaySetup(const CommonOptions& options, int address, Setup& setup, size_t& relay);
// Prints an error for the exit code and returns it.
int Fail(const Status& status);

struct PollOptions {
    long count = 0;             // Send packets; 0 = until stopped
    double seconds = 0;
    int intervalMs = 0;
    bool trace = false;         // switch every relay's trace on (register Show)
};
int RunPoll(const CommonOptions& common, const PollOptions& options);

struct WriteOptions {
    int address = -1;
    std::string item;
    std::string value;
    double timeout = 20;
    bool yes = false;           // no confirmation asked
};
int RunWrite(const CommonOptions& common, const WriteOptions& options);

struct SettingsOptions {
    int address = -1;
    int zone = 0;
    std::vector<std::string> edits;  // NAME=VALUE or #ID=VALUE
    bool write = false;
    std::string dsn = "rldb";
    double timeout = 30;
    bool yes = false;           // no confirmation asked before --write
};
int RunSettings(const CommonOptions& common, const SettingsOptions& options);

struct RecordOptions {
    int address = -1;
    bool listOnly = false;
    long fetch = 0;             // recording number; 0 = the first listed
    double timeout = 120;
};
int RunRecord(const CommonOptions& common, const RecordOptions& options);

// How every COMTRADE command reads its file.
struct ComtradeReadOptions {
    std::string encoding;       // of the texts; blank: detected
    bool strict = false;        // refuse what would only be warned about
};

struct PlotOptions {
    std::string cfg;            // .CFG or .CFF
    std::string out;            // base name; default: the file's
    int width = 1400;
    ComtradeReadOptions read;
    bool rms = false;           // the one-cycle RMS beside the samples
    double from = NAN, to = NAN;  // window in seconds from the trigger; NaN: the whole recording
    std::vector<std::string> channels;  // by name; empty: all
    double freq = 0;            // for --rms; 0: the file's
    std::string scale = "unit";  // "unit": one scale per unit and page; "channel": each its own
    std::string bits;           // names of status word bits; empty: a .bits file beside the recording
};
int RunPlot(const CommonOptions& common, const PlotOptions& options);

struct InfoOptions {
    std::string file;
    ComtradeReadOptions read;
};
int RunInfo(const CommonOptions& common, const InfoOptions& options);

struct ExportOptions {
    std::string file;
    std::string out;            // blank: standard output
    bool csv = true;            // the one table format
    ComtradeReadOptions read;
};
int RunExport(const CommonOptions& common, const ExportOptions& options);

struct AnalyseOptions {
    std::string file;
    ComtradeReadOptions read;
    bool csv = false;           // the RMS and phasor series as a table
    std::string out;            // blank: standard output
    double freq = 0;            // 0: the file's
    double at = NAN;            // seconds from the trigger; NaN: one cycle after it
    std::string reference;      // blank: the first analog channel
    std::vector<std::string> sets;  // "IA,IB,IC" each
};
int RunAnalyse(const CommonOptions& common, const AnalyseOptions& options);

struct MonitorOptions {
    std::string name;
    long count = 0;
    double seconds = 0;
};
int RunMonitor(const CommonOptions& common, const MonitorOptions& options);

struct ProbeOptions {
    std::vector<int> addresses;
};
int RunProbe(const CommonOptions& common, const ProbeOptions& options);

struct ScanOptions {
    int from = 1;
    int to = 32;
};
int RunScan(const CommonOptions& common, const ScanOptions& options);

int RunPorts(const CommonOptions& common);

struct ChannelFileOptions {
    std::string initDir;        // write a template into this directory
    std::string checkDir;       // check the file in this directory
    bool force = false;         // replace an existing file
};
int RunChannelFile(const CommonOptions& common, const ChannelFileOptions& options);

// Stop flag set by SIGINT and SIGTERM.
bool StopRequested();
void InstallStopHandler();

// Local wall-clock time "HH:MM:SS.mmm" and a FILETIME as local date and time.
std::string ClockText();
std::string FileTimeText(int64_t fileTime100ns);

}  // namespace vorlan_host
