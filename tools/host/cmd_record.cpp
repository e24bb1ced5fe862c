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

namespace vorlan_host {

namespace {

constexpr uint8_t kListAnswer = 0xC9;
constexpr uint8_t kBlockAnswer = 0xCB;
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

}  // namespace

int RunRecord(const CommonOptions& common, const RecordOptions& o) {
    const std::string dir = RecordingDirectory();
    if (!o.listOnly) {
        size_t tokens = 0;
        if (Status s = CheckRecordingPlace(dir, &tokens); !s.ok()) return Fail(s);
        if (tokens < kChannelFileTokens) {
            std::fprintf(stderr, "vorlan-host: note: %s%s has %zu of %zu tokens; the missing ones are written empty\n",
                         dir.c_str(), kChannelFileName, tokens, kChannelFileTokens);
        }
    }
    // The address is needed before the station is read: take it from the file.
    Station station;
    if (std::string e = LoadStation(common.station, station); !e.empty()) return Fail({kExitUsage, e});
    int address = o.address;
    if (address < 0 && station.relays.size() == 1) address = station.relays[0].address;
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
    if (Status s = session.Write(relay, "LBStart", -1); !s.ok()) return Fail(s);
    double count = 0;
    if (!FollowUntil(session, relay, kListSeconds, [&] {
            trace.Drain();
            return session.ReadNumber(relay, "LBCount", count) && count > 0;
        })) {
        return Fail({kExitFailed, "relay " + std::to_string(address) + " listed no recording"});
    }
    struct Entry {
        uint32_t id;
        std::string time;
    };
    std::vector<Entry> list;
    for (int k = 1; k <= static_cast<int>(count); ++k) {
        double id = 0;
        session.ReadNumber(relay, "LBID" + std::to_string(k), id);
        list.push_back(Entry{static_cast<uint32_t>(id), session.RecordingTime(relay, k)});
    }
    if (common.json) {
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
    if (o.listOnly) return kExitOk;

    size_t chosen = 0;
    if (o.fetch > 0) {
        while (chosen < list.size() && list[chosen].id != static_cast<uint32_t>(o.fetch)) ++chosen;
        if (chosen == list.size()) {
            return Fail({kExitUsage, "relay " + std::to_string(address) + " does not list recording " +
                                         std::to_string(o.fetch)});
        }
    }
    const Entry& entry = list[chosen];
    const long announced = trace.Announced(entry.id);
    if (Status s = session.Write(relay, "LBStart", static_cast<int32_t>(entry.id)); !s.ok()) return Fail(s);
    ProgressBar bar("recording " + std::to_string(entry.id));
    double started = 0;
    bool filesWritten = false;
    int turnsAfterLast = 0;
    long done = 0;
    FollowUntil(session, relay, o.timeout, [&] {
        trace.Drain();
        done = std::min(trace.highest() + 1, announced > 0 ? announced : trace.highest() + 1);
        if (done < 0) done = 0;
        bar.Update(done, announced);
        filesWritten = session.ReadNumber(relay, "LBStart", started) && started == -2;
        if (!filesWritten && announced > 0 && done >= announced) ++turnsAfterLast;
        return filesWritten || turnsAfterLast > kTurnsAfterLastSample;
    });
    bar.Finish();
    if (!filesWritten) {
        if (StopRequested()) return Fail({kExitInterrupted, "interrupted"});
        // Say why the driver wrote nothing, if the place tells.
        if (Status s = CheckRecordingPlace(dir); !s.ok()) {
            s.message = "recording " + std::to_string(entry.id) + " arrived but no files were written: " + s.message;
            return Fail(s);
        }
        if (announced > 0 && done >= announced) {
            return Fail({kExitFile, "all " + std::to_string(announced) + " samples of recording " +
                                        std::to_string(entry.id) + " arrived but the driver wrote no files into " +
                                        dir + " (is the disk full?)"});
        }
        return Fail({kExitFailed, "recording " + std::to_string(entry.id) + " was not completed within " +
                                      std::to_string(static_cast<int>(o.timeout)) + " s (" + std::to_string(done) +
                                      " samples arrived)"});
    }
    const std::string base = dir + entry.time;
    const std::string cfg = base + ".CFG", dat = base + ".DAT";
    const bool present = Exists(cfg) && Exists(dat);
    if (common.json) {
        EmitJson("recording", {{"relay", address}, {"recording", entry.id}, {"cfg", cfg}, {"dat", dat},
                               {"written", present}});
    } else {
        std::printf("recording %u fetched; files:\n  %s\n  %s\n", entry.id, cfg.c_str(), dat.c_str());
    }
    if (!present) return Fail({kExitFile, "the recording files are not in " + dir});
    return kExitOk;
}

}  // namespace vorlan_host
