// settings: reads a zone's settings from a relay into the setting database
// and shows them; applies edits and writes them back, following the write.

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
#include "setting_fit.h"

namespace vorlan_host {

namespace {

constexpr double kStateReceived = 1;
constexpr double kStateConfirmed = 3;
constexpr unsigned char kCodedListAnswer = 0xBD;

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

// NAME=VALUE (the name as shown) or #ID=VALUE (coded) or vID / bID (float
// layout): sets the row's value and names the row edited.
Status ApplyEdit(const std::string& edit, std::vector<SettingRow>& rows, size_t& edited) {
    const size_t eq = edit.rfind('=');
    if (eq == std::string::npos || eq == 0) return {kExitUsage, "an edit is NAME=VALUE: '" + edit + "'"};
    const std::string key = edit.substr(0, eq);
    char* end = nullptr;
    const double value = std::strtod(edit.c_str() + eq + 1, &end);
    if (*end != '\0' || eq + 1 == edit.size()) return {kExitUsage, "'" + edit.substr(eq + 1) + "' is not a number"};
    for (size_t i = 0; i < rows.size(); ++i) {
        SettingRow& r = rows[i];
        const std::string id = r.coded ? "#" + std::to_string(r.id) : (r.kind == 1 ? "v" : "b") + std::to_string(r.id);
        if (key == id || key == GbkToUtf8(r.name)) {
            r.value = value;
            edited = i;
            return Status::Ok();
        }
    }
    return {kExitUsage, "no setting '" + key + "' for this relay type"};
}

}  // namespace

int RunSettings(const CommonOptions& common, const SettingsOptions& o) {
    if (o.zone < 0 || o.zone > 99) return Fail({kExitUsage, "zone must be 0..99"});
    // Before the component is created: its monitor name is taken then.
    SettingTrace trace;
    if (o.write) {
        if (std::string e = trace.Listen(); !e.empty()) {
            std::fprintf(stderr, "vorlan-host: the values can't be checked before the write: %s\n", e.c_str());
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

    double state = 0;
    auto stateIs = [&](double want) {
        return [&, want] {
            trace.Drain();
            return session.ReadNumber(relay, "DZWR", state) && state == want;
        };
    };
    if (Status s = session.Write(relay, "DZone", o.zone); !s.ok()) return Fail(s);
    if (!FollowUntil(session, relay, o.timeout, stateIs(kStateReceived))) {
        return Fail({kExitFailed, "relay " + std::to_string(address) + " sent no settings for zone " +
                                      std::to_string(o.zone) + " within " + std::to_string(static_cast<int>(o.timeout)) +
                                      " s"});
    }
    double type = 0;
    session.ReadNumber(relay, "RtuType", type);
    std::vector<SettingRow> rows;
    if (std::string e = db.Load(static_cast<int>(type), rows); !e.empty()) return Fail({kExitDatabase, e});
    if (rows.empty()) {
        return Fail({kExitDatabase, "the setting database has no settings for relay type " +
                                        std::to_string(static_cast<int>(type)) + " (is its catalogue loaded?)"});
    }
    Show(rows, common.json, address, o.zone, static_cast<int>(type));
    if (o.edits.empty() && !o.write) return kExitOk;
    if (o.write) {
        const std::string what = "write the settings of zone " + std::to_string(o.zone) + " to relay " +
                                 std::to_string(address) + " (" + session.station().relays[relay].name + ")";
        if (Status s = ConfirmChange(what, o.yes); !s.ok()) return Fail(s);
    }

    std::vector<size_t> edited;
    for (const std::string& edit : o.edits) {
        size_t row = 0;
        if (Status s = ApplyEdit(edit, rows, row); !s.ok()) return Fail(s);
        edited.push_back(row);
    }
    // Nothing is stored or written when a value can't reach the relay as it
    // is: the driver would refuse the whole table.
    if (o.write) {
        trace.Drain();
        const std::string answer = trace.CodedAnswer(address);
        if (!answer.empty()) {
            const std::vector<std::string> unfit = UnfitSettings(rows, CodedSlotDecimals(answer));
            if (!unfit.empty()) {
                std::string text = "not written: relay " + std::to_string(address) + " can't take " +
                                   (unfit.size() == 1 ? "this value as it is:" : "these values as they are:");
                for (const std::string& u : unfit) text += "\n  " + u;
                return Fail({kExitItem, text});
            }
        } else if (rows.front().coded) {  // the float layout carries floats: nothing to check
            std::fprintf(stderr, "vorlan-host: the values were not checked: no coded-list answer was seen\n");
        }
    }
    for (size_t i = 0; i < edited.size(); ++i) {
        if (std::string e = db.Update(static_cast<int>(type), rows[edited[i]]); !e.empty()) {
            return Fail({kExitDatabase, e});
        }
        if (common.json) EmitJson("edited", {{"relay", address}, {"zone", o.zone}, {"edit", o.edits[i]}});
        else std::printf("edited %s\n", o.edits[i].c_str());
    }
    if (!o.write) return kExitOk;

    if (Status s = session.Write(relay, "DZWR", 2); !s.ok()) return Fail(s);
    std::fprintf(stderr, "writing zone %d to relay %d ...\n", o.zone, address);
    if (!FollowUntil(session, relay, o.timeout, stateIs(kStateConfirmed))) {
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

}  // namespace vorlan_host
