// SPDX-License-Identifier: Apache-2.0
#include "simulator.h"

#include <cstdio>
#include <ctime>
#include <sstream>
#include <sys/time.h>

namespace vorlan_sim {

Simulator::Simulator(SimConfig config) : config_(std::move(config)) {}

Simulator::~Simulator() { Stop(); }

std::string Simulator::Open() {
    if (std::string e = ValidateSimConfig(config_); !e.empty()) return e;
    relays_ = std::make_unique<RelayLine>(config_.relays, config_.seed);
    faults_ = std::make_unique<FaultInjector>(config_.faults, config_.seed, relays_->Addresses());
    LineLoop::Log log;
    if (config_.verbose) {
        log = [this](const std::string& line) {
            timeval tv{};
            gettimeofday(&tv, nullptr);
            tm local{};
            localtime_r(&tv.tv_sec, &local);
            std::lock_guard<std::mutex> hold(logMutex_);
            std::fprintf(stderr, "%02d:%02d:%02d.%03d %s\n", local.tm_hour, local.tm_min, local.tm_sec,
                         static_cast<int>(tv.tv_usec / 1000), line.c_str());
        };
    }
    loop_ = std::make_unique<LineLoop>(*relays_, *faults_, log);
    loop_->SetPaceBaud(config_.line.paceBaud);
    return port_.Open(config_.line);
}

std::string Simulator::Run(const std::atomic<bool>& stop) { return RunLine(port_.fd(), *loop_, stop); }

void Simulator::Start() {
    stop_ = false;
    thread_ = std::thread([this] { Run(stop_); });
}

void Simulator::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

std::string Simulator::Summary() const {
    std::ostringstream out;
    const AnswerCounts& a = relays_->counts();
    const FaultCounts& f = faults_->counts();
    out << "requests " << a.requests << ", answers " << a.answers << " (intact " << f.intact << ", dropped "
        << f.dropped << ", bad CRC " << f.badCrc << ", other address " << f.wrongAddress << ", split "
        << f.split << ", stray bytes " << f.stray << ", noise " << f.garbage << "), broadcasts " << a.broadcasts
        << ", time syncs " << a.timeSyncs << ", controls " << a.controls << ", setting reads " << a.settingReads
        << ", setting writes " << a.settingWrites << ", recording blocks " << a.blocks;
    for (size_t i = 0; i < relays_->size(); ++i) {
        const RelayModel& r = relays_->relay(i);
        out << "; relay " << static_cast<int>(r.address()) << ": " << r.traffic().requests << " requests, "
            << r.traffic().answers << " answers";
    }
    return out.str();
}

}  // namespace vorlan_sim
