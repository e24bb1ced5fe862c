// settings: reads a zone's settings from a relay into the setting database
// and shows them; shows the changes the edits make, stores them and writes
// them back, following the write.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "confirm.h"
#include "output.h"
#include "follow.h"
#include "gbk_text.h"
#include "monitor_listener.h"
#include "setting_db.h"
#include "setting_diff.h"
#include "setting_fit.h"
#include "model/commands.h"  // the protocol's names, shared with the driver

namespace vorlan_host {

namespace {

constexpr double kStateReceived = 1;
constexpr double kStateConfirmed = 3;
constexpr unsigned char kCodedListAnswer = vorlan::Code(vorlan::Answer::SettingsCoded);

// Watches the traffic on a monitor of our own for the coded-list answers,
// which alone tell each setting's decimals.
class SettingTrace {
public:
    std::string Listen() {
        const std::string name = "vorlan-host-settings-" + std::to_string(getpid());
        if (std::string e = listener_.Bind(name); !e.empty()) return e;
        setenv("VORLAN_MONITOR", name.c_str(), 1);
        listening_ = true;
        return {};
    }
    bool listening() const { return listening_; }

    void Drain() {
        std::string line;
        while (listener_.Receive(line, 0)) {
            if (!frames_.Add(line) || frames_.direction() != 'R') continue;
            const std::string& f = frames_.bytes();
            if (static_cast<unsigned char>(f[1]) == kCodedListAnswer) {
                codedAnswers_[static_cast<unsigned char>(f[0])] = f;
            }
        }
    }
    // The last coded-list answer of the relay at `address`, or empty.
    std::string CodedAnswer(int address) const {
        auto it = codedAnswers_.find(address);
        return it == codedAnswers_.end() ? std::string() : it->second;
    }

private:
    MonitorListener listener_;
    TraceFrames frames_;
    bool listening_ = false;
    std::map<int, std::string> codedAnswers_;
};

// Pads to a width in terminal columns: CJK characters take two.
std::string Pad(const std::string& utf8, size_t columns) {
    size_t width = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xC0) == 0x80) continue;
        width += c >= 0xE0 ? 2 : 1;
    }
    return width >= columns ? utf8 + " " : utf8 + std::string(columns - width, ' ');
}

void Show(const std::vector<SettingRow>& rows, bool json, int address, int zone, int type) {
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const SettingRow& r : rows) {
            nlohmann::json row{{"id", r.id}, {"name", GbkToUtf8(r.name)}, {"value", r.value}};
            if (r.coded) row["enabled"] = r.flag != 0;
            else row["kind"] = r.kind == 1 ? "value" : "byte";
            list.push_back(row);
        }
        EmitJson("settings", {{"relay", address}, {"zone", zone}, {"relay_type", type}, {"settings", list}});
        return;
    }
    const bool coded = !rows.empty() && rows.front().coded;
    std::printf("relay %d, zone %d, relay type %d, %zu settings (%s):\n", address, zone, type, rows.size(),
                coded ? "coded list, from [RelayDevSet]" : "float layout, from [RelayName]");
    for (const SettingRow& r : rows) {
        const std::string name = GbkToUtf8(r.name);
        if (r.coded) {
            std::printf("  #%-4d %s %10g  %s\n", r.id, Pad(name, 24).c_str(), r.value, r.flag ? "on" : "off");
        } else {
            std::printf("  %s%-3d %s %10g\n", r.kind == 1 ? "v" : "b", r.id, Pad(name, 24).c_str(), r.value);
        }
    }
}

// Polls until the relay's setting state (register DZWR) is `want`, watching
// the trace meanwhile.
bool FollowState(HostSession& session, size_t relay, double seconds, SettingTrace& trace, double want) {
    return FollowUntil(session, relay, seconds, [&] {
        trace.Drain();
        double state = 0;
        return session.ReadNumber(relay, "DZWR", state) && state == want;
    });
}

// Asks the relay for the zone's settings and waits until they are stored;
// `type` receives the relay type the driver keeps them under.
Status ReadZone(HostSession& session, size_t relay, const SettingsOptions& o, SettingTrace& trace, int address,
                int& type) {
    if (Status s = session.Write(relay, "DZone", o.zone); !s.ok()) return s;
    if (!FollowState(session, relay, o.timeout, trace, kStateReceived)) {
        return {kExitFailed, "relay " + std::to_string(address) + " sent no settings for zone " +
                                 std::to_string(o.zone) + " within " + std::to_string(static_cast<int>(o.timeout)) +
                                 " s"};
    }
    double number = 0;
    session.ReadNumber(relay, "RtuType", number);
    type = static_cast<int>(number);
    return Status::Ok();
}

Status LoadRows(SettingDb& db, int type, std::vector<SettingRow>& rows) {
    if (std::string e = db.Load(type, rows); !e.empty()) return {kExitDatabase, e};
    if (rows.empty()) {
        return {kExitDatabase, "the setting database has no settings for relay type " + std::to_string(type) +
                                   " (is its catalogue loaded?)"};
    }
    return Status::Ok();
}

// Nothing is stored or written when a value can't reach the relay as it is:
// the driver would refuse the whole table.
Status CheckFit(const std::vector<SettingRow>& rows, const std::string& answer, int address) {
    if (answer.empty()) {
        if (rows.front().coded) {  // the float layout carries floats: nothing to check
            std::fprintf(stderr, "vorlan-host: the values were not checked: no coded-list answer was seen\n");
        }
        return Status::Ok();
    }
    const std::vector<std::string> unfit = UnfitSettings(rows, CodedSlots(answer));
    if (unfit.empty()) return Status::Ok();
    std::string text = "not written: relay " + std::to_string(address) + " can't take " +
                       (unfit.size() == 1 ? "this value as it is:" : "these values as they are:");
    for (const std::string& u : unfit) text += "\n  " + u;
    return {kExitItem, text};
}

void SayUnchanged(bool json, bool write, int address, int zone) {
    if (json) {
        EmitJson("unchanged", {{"relay", address}, {"zone", zone}, {"written", false}});
    } else {
        std::printf("nothing changed in zone %d of relay %d: %s\n", zone, address,
                    write ? "nothing written" : "nothing stored");
    }
}

// The changed rows into the setting database, from where the write reloads them.
Status StoreChanges(SettingDb& db, int type, const std::vector<SettingRow>& rows,
                    const std::vector<SettingChange>& changes, const CommonOptions& common,
                    const SettingsOptions& o, int address) {
    for (const SettingChange& c : changes) {
        if (std::string e = db.Update(type, rows[c.row]); !e.empty()) return {kExitDatabase, e};
    }
    for (const std::string& edit : o.edits) {
        if (common.json) EmitJson("edited", {{"relay", address}, {"zone", o.zone}, {"edit", edit}});
        else std::printf("edited %s\n", edit.c_str());
    }
    return Status::Ok();
}

// Has the driver write the zone back and follows the write to its confirmation.
int WriteZone(HostSession& session, size_t relay, const CommonOptions& common, const SettingsOptions& o,
              SettingTrace& trace, int address) {
    if (Status s = session.Write(relay, "DZWR", 2); !s.ok()) return Fail(s);
    std::fprintf(stderr, "writing zone %d to relay %d ...\n", o.zone, address);
    if (!FollowState(session, relay, o.timeout, trace, kStateConfirmed)) {
        return Fail({kExitFailed, "relay " + std::to_string(address) + " did not confirm the setting write"});
    }
    // Two more turns of the relay carry the confirmation request (0x8F).
    for (size_t i = 0; i < 2 * session.relayCount(); ++i) session.SendNext();
    if (common.json) {
        EmitJson("written", {{"relay", address}, {"zone", o.zone}, {"written", true}});
    } else {
        std::printf("relay %d confirmed the settings of zone %d (DZWR 3)\n", address, o.zone);
    }
    return kExitOk;
}

}  // namespace

int RunSettings(const CommonOptions& common, const SettingsOptions& o) {
    if (o.zone < 0 || o.zone > 99) return Fail({kExitUsage, "zone must be 0..99"});
    // Before the component is created: its monitor name is taken then. The
    // coded-list answer tells each setting's slot, for the changes and the
    // check before a write.
    SettingTrace trace;
    if (o.write || !o.edits.empty()) {
        if (std::string e = trace.Listen(); !e.empty()) {
            std::fprintf(stderr, "vorlan-host: the slots can't be seen before the write: %s\n", e.c_str());
        }
    }
    Setup setup;
    size_t relay = 0;
    if (Status s = OpenRelaySetup(common, o.address, setup, relay); !s.ok()) return Fail(s);
    HostSession& session = *setup.session;
    const int address = session.station().relays[relay].address;

    SettingDb db;
    if (std::string e = db.Connect(o.dsn); !e.empty()) return Fail({kExitDatabase, e});
    if (trace.listening()) {
        if (Status s = session.Write(relay, "Show", 1); !s.ok()) return Fail(s);
    }
    int type = 0;
    if (Status s = ReadZone(session, relay, o, trace, address, type); !s.ok()) return Fail(s);
    std::vector<SettingRow> rows;
    if (Status s = LoadRows(db, type, rows); !s.ok()) return Fail(s);
    Show(rows, common.json, address, o.zone, type);
    if (o.edits.empty() && !o.write) return kExitOk;

    std::vector<SettingChange> changes;
    if (Status s = ApplyEdits(o.edits, rows, changes); !s.ok()) return Fail(s);
    if (changes.empty()) {
        SayUnchanged(common.json, o.write, address, o.zone);
        return kExitOk;
    }
    trace.Drain();
    const std::string answer = trace.CodedAnswer(address);
    PrintChanges(changes, rows, CodedSlots(answer), common.json, address, o.zone);
    if (o.write) {
        if (Status s = CheckFit(rows, answer, address); !s.ok()) return Fail(s);
        const std::string what = "write " + std::to_string(changes.size()) + " changed setting" +
                                 (changes.size() == 1 ? "" : "s") + " of zone " + std::to_string(o.zone) +
                                 " to relay " + std::to_string(address) + " (" +
                                 session.station().relays[relay].name + ")";
        if (Status s = ConfirmChange(what, o.yes); !s.ok()) return Fail(s);
    }
    if (Status s = StoreChanges(db, type, rows, changes, common, o, address); !s.ok()) return Fail(s);
    if (!o.write) return kExitOk;
    return WriteZone(session, relay, common, o, trace, address);
}

}  // namespace vorlan_host
