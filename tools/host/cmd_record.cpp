// SPDX-License-Identifier: Apache-2.0
// record: lists a relay's fault recordings and fetches one with a progress
// bar, then names the recording files the driver wrote. A fetch starts only
// where the driver can write the files, and its end is waited for a few
// turns, not for the whole time-out.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "follow.h"
#include "gbk_text.h"
#include "monitor_listener.h"
#include "output.h"
#include "progress_bar.h"
#include "recording_place.h"
#include "model/commands.h"  // the protocol's names, shared with the driver

namespace vorlan_host {

namespace {

constexpr uint8_t kListAnswer = vorlan::Code(vorlan::Answer::RecordingList);
constexpr uint8_t kBlockAnswer = vorlan::Code(vorlan::Answer::RecordingBlock);
constexpr size_t kListEntry = 20;
constexpr size_t kSample = 40;
constexpr double kListSeconds = 20;
// Send packets after the last sample arrived: the driver writes the files in
// the packet call that takes the last block, so a few turns are plenty.
constexpr int kTurnsAfterLastSample = 4;

uint32_t Le(const std::string& b, size_t at, size_t n) {
    uint32_t v = 0;
    for (size_t i = n; i > 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i - 1]);
    return v;
}

// Watches the relay's traffic on a monitor of our own: the list answer
// announces each recording's samples, block answers carry sample numbers.
class RecordingTrace {
public:
    explicit RecordingTrace(int address) : address_(address) {}

    std::string Listen() {
        const std::string name = "vorlan-host-record-" + std::to_string(getpid());
        if (std::string e = listener_.Bind(name); !e.empty()) return e;
        setenv("VORLAN_MONITOR", name.c_str(), 1);
        return {};
    }

    void Drain() {
        std::string line;
        while (listener_.Receive(line, 0)) {
            if (!frames_.Add(line) || frames_.direction() != 'R') continue;
            const std::string& f = frames_.bytes();
            if (static_cast<uint8_t>(f[0]) != address_) continue;
            const size_t n = static_cast<uint8_t>(f[2]);
            if (static_cast<uint8_t>(f[1]) == kListAnswer) {
                for (size_t at = 3; at + kListEntry <= 3 + n && at + kListEntry <= f.size(); at += kListEntry) {
                    announced_[Le(f, at, 4)] = static_cast<long>(Le(f, at + 16, 2));
                }
            } else if (static_cast<uint8_t>(f[1]) == kBlockAnswer) {
                for (size_t at = 3; at + kSample <= 3 + n && at + kSample <= f.size(); at += kSample) {
                    highest_ = std::max(highest_, static_cast<long>(Le(f, at, 2)));
                }
            }
        }
    }

    long Announced(uint32_t id) const {
        auto it = announced_.find(id);
        return it == announced_.end() ? 0 : it->second;
    }
    long highest() const { return highest_; }

private:
    int address_;
    MonitorListener listener_;
    TraceFrames frames_;
    std::map<uint32_t, long> announced_;
    long highest_ = -1;
};

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

struct Entry {
    uint32_t id;
    std::string time;  // the LBTime text, GBK: also the recording files' name
};

// A fetch starts only where the driver can write the files; a short channel
// file is only noted, the driver writes its missing tokens empty.
Status CheckPlaceForFetch(const std::string& dir) {
    size_t tokens = 0;
    if (Status s = CheckRecordingPlace(dir, &tokens); !s.ok()) return s;
    if (tokens < kChannelFileTokens) {
        std::fprintf(stderr, "vorlan-host: note: %s%s has %zu of %zu tokens; the missing ones are written empty\n",
                     dir.c_str(), kChannelFileName, tokens, kChannelFileTokens);
    }
    return Status::Ok();
}

// The address to watch, known before the session opens: the option's, or the
// station's one relay.
Status AddressToWatch(const CommonOptions& common, const RecordOptions& o, int& address) {
    Station station;
    if (std::string e = LoadStation(common.station, station); !e.empty()) return {kExitUsage, e};
    address = o.address;
    if (address < 0 && station.relays.size() == 1) address = station.relays[0].address;
    return Status::Ok();
}

// Asks the relay for its list (LBStart -1) and reads it once it has arrived.
Status ListRecordings(HostSession& session, size_t relay, int address, RecordingTrace& trace,
                      std::vector<Entry>& list) {
    if (Status s = session.Write(relay, "LBStart", -1); !s.ok()) return s;
    double count = 0;
    if (!FollowUntil(session, relay, kListSeconds, [&] {
            trace.Drain();
            return session.ReadNumber(relay, "LBCount", count) && count > 0;
        })) {
        return {kExitFailed, "relay " + std::to_string(address) + " listed no recording"};
    }
    for (int k = 1; k <= static_cast<int>(count); ++k) {
        double id = 0;
        session.ReadNumber(relay, "LBID" + std::to_string(k), id);
        list.push_back(Entry{static_cast<uint32_t>(id), session.RecordingTime(relay, k)});
    }
    return Status::Ok();
}

void PrintList(bool json, int address, const std::vector<Entry>& list, const RecordingTrace& trace) {
    if (json) {
        nlohmann::json j = nlohmann::json::array();
        for (const Entry& e : list) {
            j.push_back({{"id", e.id}, {"list_time", GbkToUtf8(e.time)}, {"samples", trace.Announced(e.id)}});
        }
        EmitJson("recordings", {{"relay", address}, {"recordings", j}});
    } else {
        std::printf("relay %d lists %zu recording(s):\n", address, list.size());
        for (size_t k = 0; k < list.size(); ++k) {
            std::printf("  %zu: recording %u, listed as \"%s\", %ld samples\n", k + 1, list[k].id,
                        GbkToUtf8(list[k].time).c_str(), trace.Announced(list[k].id));
        }
    }
    std::fflush(stdout);
}

// The listed entry numbered `fetch`, or the first when no number is given.
Status ChooseEntry(const std::vector<Entry>& list, long fetch, int address, size_t& chosen) {
    chosen = 0;
    if (fetch <= 0) return Status::Ok();
    while (chosen < list.size() && list[chosen].id != static_cast<uint32_t>(fetch)) ++chosen;
    if (chosen < list.size()) return Status::Ok();
    return {kExitUsage, "relay " + std::to_string(address) + " does not list recording " + std::to_string(fetch)};
}

struct FetchOutcome {
    bool filesWritten = false;
    long done = 0;  // samples arrived
};

// Follows a started fetch with a progress bar until the driver reports the
// files written (LBStart reads -2), a few turns after the last sample, or
// the time-out.
FetchOutcome FollowFetch(HostSession& session, size_t relay, RecordingTrace& trace, const Entry& entry,
                         long announced, double timeout) {
    ProgressBar bar("recording " + std::to_string(entry.id));
    FetchOutcome out;
    double started = 0;
    int turnsAfterLast = 0;
    FollowUntil(session, relay, timeout, [&] {
        trace.Drain();
        out.done = std::min(trace.highest() + 1, announced > 0 ? announced : trace.highest() + 1);
        if (out.done < 0) out.done = 0;
        bar.Update(out.done, announced);
        out.filesWritten = session.ReadNumber(relay, "LBStart", started) && started == -2;
        if (!out.filesWritten && announced > 0 && out.done >= announced) ++turnsAfterLast;
        return out.filesWritten || turnsAfterLast > kTurnsAfterLastSample;
    });
    bar.Finish();
    return out;
}

// Why a fetch ended without files, as far as the place and the samples tell.
Status FetchFailure(const std::string& dir, const Entry& entry, long announced, const FetchOutcome& out,
                    double timeout) {
    if (StopRequested()) return {kExitInterrupted, "interrupted"};
    if (Status s = CheckRecordingPlace(dir); !s.ok()) {
        s.message = "recording " + std::to_string(entry.id) + " arrived but no files were written: " + s.message;
        return s;
    }
    if (announced > 0 && out.done >= announced) {
        return {kExitFile, "all " + std::to_string(announced) + " samples of recording " + std::to_string(entry.id) +
                               " arrived but the driver wrote no files into " + dir + " (is the disk full?)"};
    }
    return {kExitFailed, "recording " + std::to_string(entry.id) + " was not completed within " +
                             std::to_string(static_cast<int>(timeout)) + " s (" + std::to_string(out.done) +
                             " samples arrived)"};
}

// Names the files the driver wrote; fails when they are not there.
int ReportFiles(bool json, int address, const std::string& dir, const Entry& entry) {
    const std::string base = dir + entry.time;
    const std::string cfg = base + ".CFG", dat = base + ".DAT";
    const bool present = Exists(cfg) && Exists(dat);
    if (json) {
        EmitJson("recording", {{"relay", address}, {"recording", entry.id}, {"cfg", cfg}, {"dat", dat},
                               {"written", present}});
    } else {
        std::printf("recording %u fetched; files:\n  %s\n  %s\n", entry.id, cfg.c_str(), dat.c_str());
    }
    if (!present) return Fail({kExitFile, "the recording files are not in " + dir});
    return kExitOk;
}

}  // namespace

int RunRecord(const CommonOptions& common, const RecordOptions& o) {
    const std::string dir = RecordingDirectory();
    if (!o.listOnly) {
        if (Status s = CheckPlaceForFetch(dir); !s.ok()) return Fail(s);
    }
    int address = -1;
    if (Status s = AddressToWatch(common, o, address); !s.ok()) return Fail(s);
    RecordingTrace trace(address);
    if (std::string e = trace.Listen(); !e.empty()) {
        std::fprintf(stderr, "vorlan-host: no progress shown: %s\n", e.c_str());
    }

    Setup setup;
    size_t relay = 0;
    if (Status s = OpenRelaySetup(common, o.address, setup, relay); !s.ok()) return Fail(s);
    HostSession& session = *setup.session;
    address = session.station().relays[relay].address;

    if (Status s = session.Write(relay, "Show", 1); !s.ok()) return Fail(s);
    std::vector<Entry> list;
    if (Status s = ListRecordings(session, relay, address, trace, list); !s.ok()) return Fail(s);
    PrintList(common.json, address, list, trace);
    if (o.listOnly) return kExitOk;

    size_t chosen = 0;
    if (Status s = ChooseEntry(list, o.fetch, address, chosen); !s.ok()) return Fail(s);
    const Entry& entry = list[chosen];
    const long announced = trace.Announced(entry.id);
    if (Status s = session.Write(relay, "LBStart", static_cast<int32_t>(entry.id)); !s.ok()) return Fail(s);
    const FetchOutcome outcome = FollowFetch(session, relay, trace, entry, announced, o.timeout);
    if (!outcome.filesWritten) return Fail(FetchFailure(dir, entry, announced, outcome, o.timeout));
    return ReportFiles(common.json, address, dir, entry);
}

}  // namespace vorlan_host
