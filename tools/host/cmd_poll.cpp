// SPDX-License-Identifier: Apache-2.0
// poll: paces the polling with Send packets and shows every relay's values,
// each relay with the driver's own account of its link: values of a relay
// that never answered are not shown, and those of one that stopped answering
// are marked stale.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "commands.h"
#include "output.h"
#include "screen_text.h"

namespace vorlan_host {

namespace {

constexpr size_t kEventsKept = 8;
constexpr size_t kEventsOnScreen = 3;
constexpr double kScrollSeconds = 3;     // a screen of relays stays this long
constexpr uint16_t kBwyxToOne = 10001;   // BWYX 10001.. : input n-10001 went to 1
constexpr int16_t kGood = VORLAN_QUALITY_GOOD;
constexpr int kRowHead = 13;             // "  YC    1-8  " before the values
constexpr int kCellWidth = 8;

struct Seen {
    bool known = false;
    double value = 0;
    int quality = 0;
    int64_t time = 0;
};

std::string ValueText(int registerIndex, double v) {
    char b[32];
    if (registerIndex == kYC) std::snprintf(b, sizeof b, "%.1f", v);
    else std::snprintf(b, sizeof b, "%.0f", v);
    return b;
}

// "09:03:50" of a FILETIME, in local time; "-" for none.
std::string ClockOf(int64_t fileTime) {
    const std::string iso = IsoFileTime(fileTime);
    return iso.size() >= 19 ? iso.substr(11, 8) : "-";
}

std::string CountsText(const RelayHealth& h) {
    const VorlanRelayStats& s = h.stats;
    std::ostringstream t;
    t << s.requestsSent << " requests, " << s.answersTaken << " answers, " << s.timeouts << " time-outs, "
      << s.rejectedAnswers << " rejected";
    return t.str();
}

class PollView {
public:
    PollView(HostSession& s, bool json, bool table)
        : s_(s), json_(json), table_(table), health_(s.relayCount()), shown_(s.relayCount(), false) {}

    void Cycle(double elapsed, long sent) {
        for (size_t r = 0; r < s_.relayCount(); ++r) {
            const RelayHealth h = s_.Health(r);
            // A relay not asked yet is not news; once asked, each change of state is.
            const bool asked = h.stats.requestsSent > 0 || h.state != RelayState::NoAnswer;
            if (asked && (!shown_[r] || h.state != health_[r].state)) {
                ReportState(r, h);
                shown_[r] = true;
            }
            health_[r] = h;
            // A relay that never answered has nothing but the zeros it started with.
            if (h.state == RelayState::NoAnswer) continue;
            for (PacketBox* box : s_.StationPackets(r)) {
                if (!s_.Run(*box)) continue;
                for (const HostItem& item : box->items) Take(r, *box, item);
            }
        }
        if (table_) Draw(elapsed, sent);
        std::fflush(stdout);
    }

    void LineEvent(const std::string& text) {
        if (json_) {
            EmitJson("line", {{"text", text}});
        } else if (table_) {
            AddEvent(ClockText() + "  " + text);
        } else {
            std::printf("%s %s\n", ClockText().c_str(), text.c_str());
        }
        std::fflush(stdout);
    }

    void Summary() {
        for (size_t r = 0; r < s_.relayCount(); ++r) {
            const RelaySpec& relayDef = s_.station().relays[r];
            const RelayHealth h = s_.Health(r);
            if (json_) {
                nlohmann::json j = HealthJson(h);
                j["relay"] = relayDef.address;
                j["name"] = relayDef.name;
                EmitJson("summary", j);
            } else {
                std::printf("relay %d (%s): %s; %s\n", relayDef.address, relayDef.name.c_str(), StateText(h).c_str(),
                            CountsText(h).c_str());
            }
        }
    }

    uint64_t Answers() const {
        uint64_t n = 0;
        for (size_t r = 0; r < s_.relayCount(); ++r) {
            const RelayHealth h = s_.Health(r);
            n += h.known ? h.stats.answersTaken : s_.counts(r).ok;
        }
        return n;
    }

private:
    void AddEvent(const std::string& line) {
        events_.push_front(line);
        if (events_.size() > kEventsKept) events_.pop_back();
    }

    void ReportState(size_t r, const RelayHealth& h) {
        const RelaySpec& relayDef = s_.station().relays[r];
        if (json_) {
            nlohmann::json j = HealthJson(h);
            j["relay"] = relayDef.address;
            j["name"] = relayDef.name;
            EmitJson("relay", j);
            return;
        }
        // The first look at a relay that answers is not news.
        if (!shown_[r] && h.state == RelayState::Ok) return;
        std::string text = "relay " + std::to_string(relayDef.address) + " (" + relayDef.name + "): " + StateText(h);
        if (h.state == RelayState::Stale) {
            text += ", " + std::to_string(h.stats.consecutiveFailures) + " failures in a row";
        }
        if (table_) AddEvent(ClockText() + "  " + text);
        else std::printf("%s %s\n", ClockText().c_str(), text.c_str());
    }

    void Take(size_t r, const PacketBox& box, const HostItem& item) {
        const RelaySpec& relayDef = s_.station().relays[r];
        const double v = HostSession::ItemNumber(item, box.registerIndex);
        const int64_t t = HostSession::ItemTime100ns(item);
        if (box.registerIndex == kBWYX) {
            if (v != 1) return;
            const bool toOne = item.address >= kBwyxToOne;
            const int input = toOne ? item.address - kBwyxToOne + 1 : item.address;
            const int state = toOne ? 1 : 0;
            if (json_) {
                EmitJson("event", {{"relay", relayDef.address}, {"input", input}, {"state", state},
                                   {"timestamp", JsonFileTime(t)}});
            } else {
                std::ostringstream line;
                line << "relay " << relayDef.address << ": input " << input << " -> " << state << " at "
                     << FileTimeText(t);
                if (table_) AddEvent(ClockText() + "  " + line.str());
                else std::printf("%s event %s\n", ClockText().c_str(), line.str().c_str());
            }
            return;
        }
        Seen& seen = values_[{r, box.registerName, item.address}];
        const bool changed = !seen.known || seen.value != v || seen.quality != item.quality;
        seen = Seen{true, v, item.quality, t};
        if (!changed || table_) return;
        const std::string name = box.registerName + (box.packet.firstAddress ? std::to_string(item.address) : "");
        if (json_) {
            EmitJson("value", {{"relay", relayDef.address}, {"item", name}, {"value", v}, {"quality", item.quality},
                               {"timestamp", JsonFileTime(t)}, {"state", StateName(health_[r].state)}});
        } else {
            std::printf("%s relay %d %s = %s (quality %d, %s)\n", ClockText().c_str(), relayDef.address, name.c_str(),
                        ValueText(box.registerIndex, v).c_str(), item.quality, FileTimeText(t).c_str());
        }
    }

    // The lines of one relay: a heading with its state and counts, then its
    // values unless it never answered.
    std::vector<std::string> RelayLines(size_t r, int cols) {
        const RelaySpec& relayDef = s_.station().relays[r];
        const RelayHealth& h = health_[r];
        std::vector<std::string> lines;
        const VorlanRelayStats& c = h.stats;
        std::string state = StateText(h);
        if (h.state == RelayState::Stale) state = "stale since " + ClockOf(h.lastAnswer) + RetryText(c);
        lines.push_back("relay " + std::to_string(relayDef.address) + " " + relayDef.name + ": " + state);
        const std::string counts = "  answered " + std::to_string(c.answersTaken) + " of " +
                                   std::to_string(c.requestsSent) + ", " + std::to_string(c.timeouts) +
                                   " timed out, " + std::to_string(c.rejectedAnswers) + " rejected";
        if (h.state == RelayState::NoAnswer) {
            lines.push_back(counts);
            return lines;
        }
        const size_t numbersPerRow = static_cast<size_t>(std::clamp((cols - kRowHead) / kCellWidth, 1, 8));
        int waiting = 0;  // never reported: the driver waits for data
        int bad = 0;
        int64_t newest = 0;
        for (PacketBox* box : s_.StationPackets(r)) {
            if (box->registerIndex == kBWYX) continue;
            const size_t perRow = box->registerIndex == kYX ? 32 : numbersPerRow;
            for (size_t i = 0; i < box->items.size(); i += perRow) {
                const size_t end = std::min(box->items.size(), i + perRow);
                char head[48];
                std::snprintf(head, sizeof head, "  %-4s%3u-%-3u", box->registerName.c_str(), box->items[i].address,
                              box->items[end - 1].address);
                std::string row = head;
                for (size_t k = i; k < end; ++k) {
                    const Seen& seen = values_[{r, box->registerName, box->items[k].address}];
                    if (seen.quality == VORLAN_QUALITY_WAITING) ++waiting;
                    else if (seen.quality != kGood) ++bad;
                    newest = std::max(newest, seen.time);
                    const bool none = seen.quality == VORLAN_QUALITY_WAITING;
                    if (box->registerIndex == kYX) {
                        if ((k - i) % 8 == 0) row += ' ';
                        row += none ? '-' : seen.value != 0 ? '1' : '0';
                    } else {
                        char cell[24];
                        std::snprintf(cell, sizeof cell, "%8s",
                                      none ? "-" : ValueText(box->registerIndex, seen.value).c_str());
                        row += cell;
                    }
                }
                lines.push_back(row);
            }
        }
        if (h.state == RelayState::Stale) {
            lines.push_back(counts + "; values as of " + ClockOf(h.lastAnswer));
        } else {
            std::string quality = bad ? std::to_string(bad) + " not good" : std::string("quality good");
            if (waiting) quality += ", " + std::to_string(waiting) + " never reported";
            lines.push_back(counts + "; " + quality + ", updated " + ClockOf(newest));
        }
        return lines;
    }

    // One screen that fits the terminal; with more relays than fit, a
    // screenful of relays at a time, moving on every few seconds.
    void Draw(double elapsed, long sent) {
        const ScreenSize size = TerminalSize(STDOUT_FILENO);
        const int cols = std::max(size.cols - 1, 20);
        const size_t eventLines = std::min(events_.size(), kEventsOnScreen);
        const int room = size.rows - 1 - static_cast<int>(eventLines + 1);  // the title and the events
        const size_t n = s_.relayCount();
        std::vector<std::vector<std::string>> blocks;
        for (size_t r = 0; r < n; ++r) blocks.push_back(RelayLines(r, cols));
        int total = 0;
        for (const auto& b : blocks) total += static_cast<int>(b.size());
        if (total > room && elapsed - scrolledAt_ >= kScrollSeconds) {
            first_ = (first_ + shownCount_) % n;
            scrolledAt_ = elapsed;
        }
        if (total <= room) first_ = 0;
        std::vector<std::string> body;
        size_t count = 0;
        for (size_t k = 0; k < n; ++k) {
            const auto& b = blocks[(first_ + k) % n];
            if (static_cast<int>(body.size() + b.size()) > room && count > 0) break;
            for (const std::string& line : b) {
                if (static_cast<int>(body.size()) >= room) break;
                body.push_back(line);
            }
            ++count;
        }
        shownCount_ = std::max<size_t>(count, 1);
        std::ostringstream title;
        title << s_.station().name << "  " << s_.station().channel.port << "  " << sent << " Send packets, "
              << static_cast<int>(elapsed) << " s";
        if (count < n) title << "  relays " << first_ + 1 << "-" << first_ + count << " of " << n;
        title << "  (Ctrl-C stops)";
        std::string out = "\x1b[H\x1b[2J" + FitWidth(title.str(), cols) + "\n";
        for (const std::string& line : body) out += FitWidth(line, cols) + "\n";
        out += FitWidth("Events (relay clocks read as UTC+8; times shown in UTC" + IsoNow().substr(23) + "):", cols) +
               "\n";
        for (size_t i = 0; i < eventLines; ++i) out += FitWidth("  " + events_[i], cols) + "\n";
        std::fputs(out.c_str(), stdout);
    }

    HostSession& s_;
    bool json_;
    bool table_;
    std::vector<RelayHealth> health_;
    std::vector<bool> shown_;
    std::map<std::tuple<size_t, std::string, uint16_t>, Seen> values_;
    std::deque<std::string> events_;
    size_t first_ = 0;
    size_t shownCount_ = 1;
    double scrolledAt_ = 0;
};

}  // namespace

int RunPoll(const CommonOptions& common, const PollOptions& options) {
    Setup setup;
    if (Status s = OpenSetup(common, true, true, setup); !s.ok()) return Fail(s);
    HostSession& session = *setup.session;
    InstallStopHandler();
    for (size_t r = 0; options.trace && r < session.relayCount(); ++r) {
        if (Status s = session.Write(r, "Show", 1); !s.ok()) return Fail(s);
    }
    PollView view(session, common.json, !common.json && isatty(STDOUT_FILENO));
    session.onLineEvent = [&view](const std::string& text) { view.LineEvent(text); };
    const auto start = std::chrono::steady_clock::now();
    long sent = 0;
    while (!StopRequested()) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (options.count > 0 && sent >= options.count) break;
        if (options.seconds > 0 && elapsed >= options.seconds) break;
        session.SendNext();
        ++sent;
        view.Cycle(elapsed, sent);
        // The reader went away (poll | head): stop without a word.
        if (OutputGone()) return kExitPipeClosed;
        if (options.intervalMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
    }
    view.Summary();
    if (OutputGone()) return kExitPipeClosed;
    if (view.Answers() == 0) return Fail({kExitFailed, NoAnswerHint(session.station().channel)});
    // Stopped by Ctrl-C or SIGTERM: the run was cut short, as the exit code says.
    return StopRequested() ? kExitInterrupted : kExitOk;
}

}  // namespace vorlan_host
