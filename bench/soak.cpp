// SPDX-License-Identifier: Apache-2.0
// The long fault soak: three simulated relays on a pseudo-terminal, answers
// dropped (5%), with a bad CRC (5%), from another address (2%), split or
// behind line noise (2%). After the run the host must read what each relay
// last reported intact, and every relay must have been asked again within
// its next turns after each spoiled answer. Built with AddressSanitizer by
// scripts/bench.sh, so LeakSanitizer checks the run's end.
//
//   bench_soak [exchanges, default 2000] [seed, default 1]

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "sim_port.h"
#include "soak_ledger.h"

namespace {

using vorlan_test::SoakLedger;

// Moves bytes between the pseudo-terminal and the ledger: whole requests in,
// shaped answers out at their times.
class SoakPeer {
public:
    SoakPeer(int fd, SoakLedger& ledger) : fd_(fd), ledger_(ledger), thread_([this] { Run(); }) {}
    ~SoakPeer() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    long requests() const { return requests_.load(); }

private:
    struct Due {
        double atMs;
        std::vector<uint8_t> bytes;
    };
    void Run() {
        std::vector<uint8_t> pending;
        std::vector<Due> schedule;
        double lastByteMs = 0;
        while (!stop_) {
            const double now = vorlan_bench::MonotonicMs();
            while (!schedule.empty() && schedule.front().atMs <= now) {
                WriteAll(schedule.front().bytes);
                schedule.erase(schedule.begin());
            }
            int waitMs = 10;
            if (!schedule.empty()) waitMs = std::max(0, std::min(waitMs, static_cast<int>(schedule.front().atMs - now)));
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, waitMs) > 0) {
                uint8_t buf[512];
                const ssize_t n = read(fd_, buf, sizeof buf);
                if (n > 0) {
                    pending.insert(pending.end(), buf, buf + n);
                    lastByteMs = vorlan_bench::MonotonicMs();
                }
            }
            // A partial request that stopped arriving is line noise.
            if (!pending.empty() && vorlan_bench::MonotonicMs() - lastByteMs > 100) pending.clear();
            while (pending.size() >= 3 && pending.size() >= pending[2] + 5u) {
                const std::vector<uint8_t> request(pending.begin(), pending.begin() + pending[2] + 5);
                pending.erase(pending.begin(), pending.begin() + pending[2] + 5);
                const double at = vorlan_bench::MonotonicMs();
                for (const vorlan_sim::LineChunk& c : ledger_.Answer(request)) {
                    Due due{at + c.delayMs, c.bytes};
                    auto it = schedule.begin();
                    while (it != schedule.end() && it->atMs <= due.atMs) ++it;
                    schedule.insert(it, due);
                }
                ++requests_;
            }
        }
    }
    void WriteAll(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else {
                pollfd p{fd_, POLLOUT, 0};
                poll(&p, 1, 10);
            }
        }
    }

    int fd_;
    SoakLedger& ledger_;
    std::atomic<bool> stop_{false};
    std::atomic<long> requests_{0};
    std::thread thread_;
};

int CheckHost(vorlan::CRelayDriver& driver, const SoakLedger& ledger, const std::vector<uint8_t>& addresses) {
    int wrong = 0;
    for (size_t device = 0; device < addresses.size(); ++device) {
        struct Reg {
            int16_t index;
            SoakLedger::Kind kind;
            int count;
        } regs[] = {{2, SoakLedger::kYc, 64}, {3, SoakLedger::kYx, 512}, {4, SoakLedger::kYm, 20}};
        for (const Reg& reg : regs) {
            std::vector<HostItem> items(static_cast<size_t>(reg.count));
            std::vector<HostItemNode> nodes(items.size());
            HostPacket packet;
            std::memset(&packet, 0, sizeof packet);
            packet.deviceIndex = static_cast<int16_t>(device);
            packet.registerIndex = reg.index;
            for (size_t i = 0; i < items.size(); ++i) {
                std::memset(&items[i], 0, sizeof items[i]);
                items[i].address = static_cast<uint16_t>(i + 1);
                nodes[i] = HostItemNode{i + 1 < items.size() ? &nodes[i + 1] : nullptr, nullptr, &items[i]};
            }
            packet.items.first = &nodes[0];
            packet.items.last = &nodes.back();
            packet.items.count = reg.count;
            if (driver.ProcessPacket(&packet, 0) != 1) ++wrong;
            auto longAt = [&](size_t i) {
                int32_t v;
                std::memcpy(&v, items[i].value, sizeof v);
                return v;
            };
            const int values = reg.kind == SoakLedger::kYx ? reg.count / 8 : reg.count;
            for (int k = 0; k < values; ++k) {
                int64_t host = 0;
                if (reg.kind == SoakLedger::kYc) {
                    float f;
                    std::memcpy(&f, items[static_cast<size_t>(k)].value, sizeof f);
                    host = static_cast<int64_t>(f);
                } else if (reg.kind == SoakLedger::kYx) {
                    for (int j = 0; j < 8; ++j) host |= int64_t{longAt(static_cast<size_t>(8 * k + j)) != 0} << j;
                } else {
                    host = longAt(static_cast<size_t>(k));
                }
                const std::string e = ledger.Check(addresses[device], reg.kind, k, host);
                if (!e.empty()) {
                    if (wrong < 10) std::printf("  differs: %s\n", e.c_str());
                    ++wrong;
                }
            }
        }
    }
    return wrong;
}

}  // namespace

int main(int argc, char** argv) {
    const long exchanges = argc > 1 ? std::atol(argv[1]) : 2000;
    const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    const std::vector<uint8_t> addresses = {1, 2, 3};

    std::vector<vorlan_sim::RelayConfig> relays;
    for (uint8_t a : addresses) relays.push_back(vorlan_sim::DefaultRelay(a, a - 1u));
    const vorlan_sim::FaultRates rates = vorlan_test::SoakFaultRates();
    vorlan_sim::RelayLine line(relays, seed);
    vorlan_sim::FaultInjector faults(rates, seed, line.Addresses());
    SoakLedger ledger(line, faults);

    vorlan_sim::SimPort port;
    const std::string error = port.Open(vorlan_sim::LineConfig{});
    if (!error.empty()) {
        std::fprintf(stderr, "pseudo-terminal: %s\n", error.c_str());
        return 1;
    }
    auto driver = vorlan_bench::OpenDriver(port.path(), addresses);
    if (!driver) return 1;

    long answered = 0;
    const double t0 = vorlan_bench::MonotonicMs();
    {
        SoakPeer peer(port.fd(), ledger);
        vorlan_bench::SendPacket send;
        while (peer.requests() < exchanges) answered += driver->ProcessPacket(&send.packet, 0);
        peer.Stop();
    }
    const double minutes = (vorlan_bench::MonotonicMs() - t0) / 60000.0;
    const int wrong = CheckHost(*driver, ledger, addresses);
    const size_t longestWait = ledger.LongestWaitAfterFault(10);
    const vorlan_sim::FaultCounts& c = faults.counts();

    std::printf("Fault soak on a pseudo-terminal, seed %llu, %.1f min:\n", static_cast<unsigned long long>(seed), minutes);
    std::printf("  requests %zu, answered %ld; answers %llu: dropped %llu, bad CRC %llu, other address %llu, "
                "split %llu, noise before %llu, intact %llu\n",
                ledger.requests(), answered, (unsigned long long)c.answers, (unsigned long long)c.dropped,
                (unsigned long long)c.badCrc, (unsigned long long)c.wrongAddress, (unsigned long long)c.split,
                (unsigned long long)c.garbage, (unsigned long long)c.intact);
    std::printf("  exchanges                         %zu   target >= 2000                 %s\n", ledger.requests(),
                vorlan_bench::Verdict(ledger.requests() >= 2000));
    std::printf("  host values not last reported     %d of %zu   target 0                  %s\n", wrong,
                ledger.CheckedPoints(), vorlan_bench::Verdict(wrong == 0));
    std::printf("  longest wait after a fault        %zu other requests   target <= 4 (next turns of 3 relays)   %s\n",
                longestWait, vorlan_bench::Verdict(longestWait <= 4));
    std::printf("  (leaks: LeakSanitizer reports at exit in the AddressSanitizer build)\n");
    return wrong == 0 && longestWait <= 4 ? 0 : 1;
}
