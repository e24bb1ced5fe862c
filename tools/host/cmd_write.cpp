// SPDX-License-Identifier: Apache-2.0
// write: one-shot writes, followed by reading the registers until the
// outcome shows (YK until 40 or 41, DZWR until 3, ...).

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "confirm.h"
#include "follow.h"
#include "output.h"

namespace vorlan_host {

namespace {

struct Named {
    const char* name;
    int value;
};

// Remote-control values of register YK.
const Named kControls[] = {{"select-open", 10}, {"select-close", 11}, {"open", 30}, {"close", 31},
                           {"cancel", 55},      {"direct-open", 170}, {"direct-close", 204}};

bool ParseValue(const std::string& item, const std::string& text, int32_t& value) {
    if (item.compare(0, 2, "YK") == 0) {
        for (const Named& n : kControls) {
            if (text == n.name) {
                value = n.value;
                return true;
            }
        }
    }
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

std::string RegisterName(const std::string& item) {
    std::string name;
    for (char c : item) {
        if (!std::isalpha(static_cast<unsigned char>(c))) break;
        name += c;
    }
    return name;
}

// The action in words when the write operates the relay or changes its
// settings; empty for writes that only ask or cancel.
std::string ActionNeedingConfirmation(const std::string& reg, const std::string& item, int32_t value,
                                      const std::string& relay) {
    if (reg == "YK" && value != 55) {
        for (const Named& n : kControls) {
            if (n.value == value) return std::string(n.name) + " point " + item.substr(2) + " of " + relay;
        }
        return "send control code " + std::to_string(value) + " to point " + item.substr(2) + " of " + relay;
    }
    if (reg == "DZWR" && value == 2) return "write the settings from the database to " + relay;
    if (reg == "DZNow" && value != 255) return "switch " + relay + " to setting zone " + std::to_string(value);
    if (reg == "FG" && value == 80) return "reset the signals of every relay on the line (broadcast)";
    return {};
}

}  // namespace

int RunWrite(const CommonOptions& common, const WriteOptions& o) {
    const std::string reg = RegisterName(o.item);
    int32_t value = 0;
    if (!ParseValue(o.item, o.value, value)) {
        return Fail({kExitUsage, "'" + o.value + "' is not a value for " + o.item +
                                     (reg == "YK" ? " (a number, or select-open, select-close, open, close, cancel, "
                                                    "direct-open, direct-close)"
                                                  : "")});
    }
    Setup setup;
    size_t relay = 0;
    if (Status s = OpenRelaySetup(common, o.address, setup, relay); !s.ok()) return Fail(s);
    HostSession& session = *setup.session;
    const int address = session.station().relays[relay].address;
    const std::string action = ActionNeedingConfirmation(
        reg, o.item, value, "relay " + std::to_string(address) + " (" + session.station().relays[relay].name + ")");
    if (!action.empty()) {
        if (Status s = ConfirmChange(action, o.yes); !s.ok()) return Fail(s);
    }

    if (Status s = session.Write(relay, o.item, value); !s.ok()) return Fail(s);
    if (common.json) {
        EmitJson("write", {{"relay", address}, {"item", o.item}, {"value", value}});
    } else {
        std::printf("relay %d: wrote %s = %d\n", address, o.item.c_str(), value);
        std::fflush(stdout);
    }

    double seen = 0;
    auto reads = [&](const std::string& text, auto test) {
        return [&session, relay, text, test, &seen] {
            return session.ReadNumber(relay, text, seen) && test(seen);
        };
    };
    bool ok = true;
    std::string outcome;
    if (reg == "YK" && (value == 30 || value == 31 || value == 170 || value == 204)) {
        ok = FollowUntil(session, relay, o.timeout, reads(o.item, [](double v) { return v == 40 || v == 41; }));
        outcome = ok ? (seen == 41 ? "executed: closed (41)" : "executed: opened (40)")
                     : "not confirmed within " + std::to_string(static_cast<int>(o.timeout)) + " s";
    } else if (reg == "YK" && (value == 10 || value == 11)) {
        ok = session.ReadNumber(relay, o.item, seen) && (seen == 20 || seen == 21);
        outcome = ok ? "selected (" + std::to_string(static_cast<int>(seen)) + ")" : "not selected";
    } else if (reg == "DZWR" && value == 2) {
        ok = FollowUntil(session, relay, o.timeout, reads("DZWR", [](double v) { return v == 3; }));
        outcome = ok ? "the relay confirmed the setting write (DZWR 3)" : "the relay did not confirm the write";
    } else if ((reg == "DZone" && value != 100) || (reg == "DZNow" && value != 255)) {
        ok = FollowUntil(session, relay, o.timeout, reads("DZWR", [](double v) { return v == 1 || v == 2; }));
        outcome = ok ? "settings of zone " + std::to_string(value) + " received (DZWR " +
                           std::to_string(static_cast<int>(seen)) + ")"
                     : "no settings received";
    } else if (reg == "LBStart" && value == -1) {
        ok = FollowUntil(session, relay, o.timeout, reads("LBCount", [](double v) { return v > 0; }));
        outcome = ok ? std::to_string(static_cast<int>(seen)) + " recording(s) listed" : "no recording listed";
    } else if (reg == "LBStart" && value > 0) {
        ok = FollowUntil(session, relay, o.timeout, reads("LBStart", [](double v) { return v == -2; }));
        outcome = ok ? "recording fetched and its files written" : "the recording was not completed";
    }
    if (!ok && StopRequested()) return Fail({kExitFailed, outcome});
    if (common.json && !outcome.empty()) {
        EmitJson("outcome", {{"relay", address}, {"item", o.item}, {"ok", ok}, {"text", outcome}});
    } else if (!outcome.empty()) {
        std::printf("relay %d: %s\n", address, outcome.c_str());
    }
    return ok ? kExitOk : kExitFailed;
}

}  // namespace vorlan_host
