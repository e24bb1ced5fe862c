// poll: paces the polling with Send packets and shows every relay's values.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "commands.h"

namespace vorlan_host {

namespace {

constexpr size_t kEventsShown = 8;
constexpr uint16_t kBwyxToOne = 10001;   // BWYX 10001.. : input n-10001 went to 1
constexpr int16_t kGood = 192;

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

class PollView {
public:
    PollView(HostSession& s, bool json, bool table) : s_(s), json_(json), table_(table) {}

    void Cycle(double elapsed, long sent) {
        for (size_t r = 0; r < s_.relayCount(); ++r) {
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
            std::printf("%s\n", nlohmann::json{{"time", ClockText()}, {"line", text}}.dump().c_str());
        } else if (table_) {
            events_.push_front(ClockText() + "  " + text);
            if (events_.size() > kEventsShown) events_.pop_back();
        } else {
            std::printf("%s %s\n", ClockText().c_str(), text.c_str());
        }
        std::fflush(stdout);
    }

    void Summary() {
        for (size_t r = 0; r < s_.relayCount(); ++r) {
            const RelaySpec& relayDef = s_.station().relays[r];
            const PacketCounts& c = s_.counts(r);
            if (json_) {
                std::printf("%s\n", nlohmann::json{{"summary", {{"relay", relayDef.address}, {"name", relayDef.name},
                                                                {"answered", c.ok}, {"failed", c.failed}}}}
                                        .dump()
                                        .c_str());
            } else {
                std::printf("relay %d (%s): %llu packets answered, %llu failed\n", relayDef.address, relayDef.name.c_str(),
                            static_cast<unsigned long long>(c.ok), static_cast<unsigned long long>(c.failed));
            }
        }
    }

private:
    void Take(size_t r, const PacketBox& box, const HostItem& item) {
        const RelaySpec& relayDef = s_.station().relays[r];
        const double v = HostSession::ItemNumber(item, box.registerIndex);
        const int64_t t = HostSession::ItemTime100ns(item);
        if (box.registerIndex == kBWYX) {
            if (v != 1) return;
            const bool toOne = item.address >= kBwyxToOne;
            const int input = toOne ? item.address - kBwyxToOne + 1 : item.address;
            const int state = toOne ? 1 : 0;
            const std::string when = FileTimeText(t);
            if (json_) {
                std::printf("%s\n", nlohmann::json{{"time", ClockText()}, {"event", "status"}, {"relay", relayDef.address},
                                                   {"input", input}, {"state", state}, {"timestamp", when}}
                                        .dump()
                                        .c_str());
            } else {
                std::ostringstream line;
                line << "relay " << relayDef.address << ": input " << input << " -> " << state << " at " << when;
                if (table_) {
                    events_.push_front(ClockText() + "  " + line.str());
                    if (events_.size() > kEventsShown) events_.pop_back();
                } else {
                    std::printf("%s event %s\n", ClockText().c_str(), line.str().c_str());
                }
            }
            return;
        }
        Seen& seen = values_[{r, box.registerName, item.address}];
        const bool changed = !seen.known || seen.value != v || seen.quality != item.quality;
        seen = Seen{true, v, item.quality, t};
        if (!changed || table_) return;
        const std::string name = box.registerName + (box.packet.firstAddress ? std::to_string(item.address) : "");
        if (json_) {
            std::printf("%s\n", nlohmann::json{{"time", ClockText()}, {"relay", relayDef.address}, {"item", name},
                                               {"value", v}, {"quality", item.quality},
                                               {"timestamp", FileTimeText(t)}}
                                    .dump()
                                    .c_str());
        } else {
            std::printf("%s relay %d %s = %s (quality %d, %s)\n", ClockText().c_str(), relayDef.address, name.c_str(),
                        ValueText(box.registerIndex, v).c_str(), item.quality, FileTimeText(t).c_str());
        }
    }

    void Draw(double elapsed, long sent) {
        std::ostringstream out;
        out << "\x1b[H\x1b[2J";
        out << "Station " << s_.station().name << "  port " << s_.station().channel.port << "  " << sent
            << " Send packets in " << static_cast<int>(elapsed) << " s   (Ctrl-C stops)\n";
        for (size_t r = 0; r < s_.relayCount(); ++r) {
            const RelaySpec& relayDef = s_.station().relays[r];
            const PacketCounts& c = s_.counts(r);
            out << "\n" << relayDef.name << " (address " << relayDef.address << ")  answered " << c.ok << ", failed "
                << c.failed << "\n";
            for (PacketBox* box : s_.StationPackets(r)) {
                if (box->registerIndex == kBWYX) continue;
                const size_t perRow = box->registerIndex == kYX ? 32 : 8;
                int bad = 0;
                int64_t newest = 0;
                for (size_t i = 0; i < box->items.size(); i += perRow) {
                    const size_t end = std::min(box->items.size(), i + perRow);
                    char head[48];
                    std::snprintf(head, sizeof head, "  %-7s %4u-%-4u ", box->registerName.c_str(),
                                  box->items[i].address, box->items[end - 1].address);
                    out << head;
                    for (size_t k = i; k < end; ++k) {
                        const Seen& seen = values_[{r, box->registerName, box->items[k].address}];
                        if (seen.quality != kGood) ++bad;
                        newest = std::max(newest, seen.time);
                        if (box->registerIndex == kYX) {
                            out << (seen.value != 0 ? '1' : '0') << ((k - i) % 8 == 7 ? " " : "");
                        } else {
                            char cell[24];
                            std::snprintf(cell, sizeof cell, "%9s", ValueText(box->registerIndex, seen.value).c_str());
                            out << cell;
                        }
                    }
                    out << "\n";
                }
                out << "          " << (bad ? std::to_string(bad) + " items not good" : std::string("quality good"))
                    << ", updated " << FileTimeText(newest) << "\n";
            }
        }
        out << "\nEvents:\n";
        for (const std::string& e : events_) out << "  " << e << "\n";
        std::fputs(out.str().c_str(), stdout);
    }

    HostSession& s_;
    bool json_;
    bool table_;
    std::map<std::tuple<size_t, std::string, uint16_t>, Seen> values_;
    std::deque<std::string> events_;
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
        if (options.intervalMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
    }
    view.Summary();
    long answered = 0;
    for (size_t r = 0; r < session.relayCount(); ++r) answered += static_cast<long>(session.counts(r).ok);
    return answered > 0 ? kExitOk : Fail({kExitFailed, "no packet was answered"});
}

}  // namespace vorlan_host
