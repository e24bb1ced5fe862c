// SPDX-License-Identifier: Apache-2.0
#include "host_session.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gbk_text.h"
#include "item_explanation.h"
#include "port_name.h"

namespace vorlan_host {

namespace {

constexpr std::chrono::milliseconds kFailurePace{400};  // the least time a failed Send packet takes

}  // namespace

HostSession::HostSession(DriverLibrary& library, Station station)
    : library_(library), station_(std::move(station)) {
    onLineEvent = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
}

HostSession::~HostSession() {
    if (driver_) {
        if (channelOpen_) driver_->lpVtbl->CloseChannel(driver_);
        control_->lpVtbl->Release(control_);
        driver_->lpVtbl->Release(driver_);
    }
}

Status HostSession::Start(bool checkItems) {
    if (std::string e = library_.CreateComponent(&driver_, &control_); !e.empty()) return {kExitLibrary, e};
    driver_->lpVtbl->GetRegisterTable(driver_, 0, &catalogue_, &catalogueSize_);
    if (Status s = RegisterRelays(); !s.ok()) return s;
    if (!checkItems) return Status::Ok();
    return GroupStationItems();
}

Status HostSession::RegisterRelays() {
    counts_.assign(station_.relays.size(), PacketCounts{});
    for (size_t i = 0; i < station_.relays.size(); ++i) {
        const std::string text = std::to_string(station_.relays[i].address);
        int32_t address = 0;
        if (!driver_->lpVtbl->AddDevice(driver_, text.c_str(), &address)) {
            return {kExitUsage, "the driver refused relay address " + text};
        }
        sendPackets_.push_back(MakeSendPacket(i));
    }
    return Status::Ok();
}

Status HostSession::GroupStationItems() {
    constexpr size_t kRejectionLines = 10;
    RejectionList rejected;
    for (size_t i = 0; i < station_.relays.size(); ++i) {
        std::vector<PacketBox*> mine;
        for (const ItemSpec& itemDef : station_.relays[i].items) {
            ItemRef ref{};
            const std::string refusal = Refusal(i, itemDef.text, itemDef.dataType, ref);
            if (refusal.empty()) {
                MergeOrAdd(i, ref, mine);
            } else {
                rejected.Add("line " + std::to_string(itemDef.line) + ", " + station_.relays[i].name, itemDef.text,
                             refusal, AllowedRange(itemDef.text));
            }
        }
    }
    for (auto& box : stationPackets_) box->Link();
    if (rejected.items() == 0) return Status::Ok();
    return {kExitItem, "the driver rejected " + std::to_string(rejected.items()) + " item(s):" +
                           rejected.Text(kRejectionLines)};
}

std::string HostSession::AllowedRange(const std::string& text) const {
    size_t digits = text.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(text[digits - 1]))) --digits;
    if (digits == text.size() || text.size() - digits > 9 || catalogue_ == nullptr) return {};
    const std::string name = text.substr(0, digits);
    const long number = std::stol(text.substr(digits));
    for (int32_t k = 0; k < catalogueSize_; ++k) {
        const RegisterDef& r = catalogue_[k];
        if (name.size() > sizeof r.name || strncasecmp(name.c_str(), r.name, sizeof r.name) != 0) continue;
        if (r.minAddress >= r.maxAddress || (number >= r.minAddress && number <= r.maxAddress)) return {};
        return name + " takes " + std::to_string(r.minAddress) + ".." + std::to_string(r.maxAddress);
    }
    return {};
}

void HostSession::MergeOrAdd(size_t relay, const ItemRef& ref, std::vector<PacketBox*>& mine) {
    for (PacketBox* box : mine) {
        if (driver_->lpVtbl->CanMerge(driver_, &ref, 0, &box->packet)) {
            AddItem(*box, ref);
            return;
        }
    }
    stationPackets_.push_back(MakePacket(relay, ref, 0));
    mine.push_back(stationPackets_.back().get());
}

std::string HostSession::PortPath() const { return PortDevicePath(station_.channel.port); }

bool HostSession::PortPresent() const {
    struct stat st {};
    return stat(PortPath().c_str(), &st) == 0;
}

Status HostSession::OpenChannel() {
    ChannelConfig config{};
    std::string note, error;
    const std::string portName = PortNameForDriver(station_.channel.port, note, error);
    if (!error.empty()) return {kExitPort, error};
    if (!note.empty()) std::fprintf(stderr, "vorlan-host: %s\n", note.c_str());
    std::strncpy(config.portName, portName.c_str(), sizeof config.portName - 1);
    config.baudRate = station_.channel.baud;
    config.byteSize = static_cast<uint8_t>(station_.channel.byteSize);
    config.parity = static_cast<uint8_t>(station_.channel.parity);
    config.stopBits = static_cast<int16_t>(station_.channel.stopBits);
    config.replyTimeout = static_cast<int16_t>(station_.channel.replyTimeoutMs);
    errno = 0;
    if (driver_->lpVtbl->OpenChannel(driver_, 0, &config)) {
        channelOpen_ = true;
        return Status::Ok();
    }
    const int refusal = errno;
    const std::string path = PortPath();
    if (refusal == EACCES || refusal == EPERM) {
        if (std::string advice = PortPermissionAdvice(path); !advice.empty()) return {kExitPort, advice};
    }
    // The driver's own reason; the guesses below serve libraries without it.
    if (const std::string reason = library_.LastOpenError(driver_); !reason.empty()) {
        return {kExitPort, DriverReasonAsClause(reason)};
    }
    if (!PortPresent()) return {kExitPort, "the port " + path + " does not exist"};
    if (std::string advice = PortPermissionAdvice(path); !advice.empty()) return {kExitPort, advice};
    if (access(path.c_str(), R_OK | W_OK) != 0) {
        return {kExitPort, "the port " + path + " can't be opened: " + std::strerror(errno)};
    }
    return {kExitPort, "the port " + path + " is busy (another program has it) or refuses the settings"};
}

int HostSession::RelayByAddress(int address) const {
    for (size_t i = 0; i < station_.relays.size(); ++i) {
        if (station_.relays[i].address == address) return static_cast<int>(i);
    }
    return -1;
}

Status HostSession::CheckItem(size_t relay, const std::string& text, int16_t dataType, ItemRef& ref) {
    const std::string refusal = Refusal(relay, text, dataType, ref);
    if (refusal.empty()) return Status::Ok();
    return {kExitItem, "'" + text + "': " + refusal};
}

std::string HostSession::Refusal(size_t relay, const std::string& text, int16_t dataType, ItemRef& ref) {
    ItemConfig config{};
    ref = ItemRef{};
    if (text.size() >= sizeof config.registerText) return "too long for a register text";
    std::memcpy(config.registerText, text.c_str(), text.size());
    config.dataType = dataType;
    ref.device = static_cast<int16_t>(relay);
    if (driver_->lpVtbl->CheckItem(driver_, &config, &ref) == 0) return {};
    const char* reason = driver_->lpVtbl->GetErrorText(driver_);
    const std::string said = reason ? GbkToUtf8(reason) : std::string("rejected");
    const std::string english = ExplainRejection(said);
    return said + (english.empty() ? "" : " (" + english + ")");
}

std::unique_ptr<PacketBox> HostSession::MakePacket(size_t relay, const ItemRef& ref, int16_t direction) {
    return MakeItemPacket(relay, ref, direction, catalogue_, catalogueSize_);
}

bool HostSession::Run(PacketBox& box) {
    return box.packet.direction == 1 ? control_->lpVtbl->WritePacket(control_, &box.packet) != 0
                                     : driver_->lpVtbl->ReadPacket(driver_, &box.packet) != 0;
}

bool HostSession::Send(size_t relay) {
    const auto began = std::chrono::steady_clock::now();
    const bool ok = Run(*sendPackets_.at(relay));
    PacketCounts& c = counts_[relay];
    if (ok) {
        ++c.ok;
        Report(line_.Answered(PortPath()));
        return true;
    }
    ++c.failed;
    // A vanished port fails at once; pace the retries as an answered request would be.
    const auto spent = std::chrono::steady_clock::now() - began;
    if (spent < kFailurePace) std::this_thread::sleep_for(kFailurePace - spent);
    Report(line_.Failed(PortPresent(), PortPath()));
    return false;
}

void HostSession::Report(const std::string& lineEvent) {
    if (!lineEvent.empty()) onLineEvent(lineEvent);
}

bool HostSession::SendNext() {
    if (sendPackets_.empty()) return false;
    const size_t relay = nextSend_++ % sendPackets_.size();
    return Send(relay);
}

PacketBox* HostSession::Reader(size_t relay, const std::string& text) {
    const std::string key = std::to_string(relay) + "/" + text;
    for (auto& [k, box] : readers_) {
        if (k == key) return box.get();
    }
    ItemRef ref{};
    if (!CheckItem(relay, text, DefaultDataType(text), ref).ok()) return nullptr;
    auto box = MakePacket(relay, ref, 0);
    box->Link();
    readers_.emplace_back(key, std::move(box));
    return readers_.back().second.get();
}

bool HostSession::ReadNumber(size_t relay, const std::string& text, double& value) {
    PacketBox* box = Reader(relay, text);
    if (!box || !Run(*box)) return false;
    value = ItemNumber(box->items[0], box->registerIndex);
    return true;
}

Status HostSession::Write(size_t relay, const std::string& text, int32_t value) {
    ItemRef ref{};
    if (Status s = CheckItem(relay, text, DefaultDataType(text), ref); !s.ok()) return s;
    auto box = MakePacket(relay, ref, 1);
    HostItem& item = box->items[0];
    if (ref.registerIndex == kLBStart) {
        std::memcpy(item.value, &value, sizeof value);
    } else {
        item.value[0] = static_cast<uint8_t>(value);
    }
    box->Link();
    if (!Run(*box)) return {kExitFailed, "the driver failed the write of " + text};
    return Status::Ok();
}

std::string HostSession::RecordingTime(size_t relay, int entry) {
    PacketBox* box = Reader(relay, "LBTime" + std::to_string(entry));
    if (!box || !Run(*box)) return {};
    uint16_t atom = 0;
    std::memcpy(&atom, box->items[0].value, sizeof atom);
    return library_.AtomText(atom);
}

RelayHealth HostSession::Health(size_t relay) const {
    VorlanRelayStats stats{};
    const bool known = library_.RelayStats(driver_, static_cast<int32_t>(relay), stats);
    return HealthOf(known, stats);
}

bool HostSession::Probe(size_t relay) {
    return driver_->lpVtbl->ProbeDevice(driver_, 0, station_.relays.at(relay).address, 0) != 0;
}

std::vector<PacketBox*> HostSession::StationPackets(size_t relay) {
    std::vector<PacketBox*> out;
    for (auto& box : stationPackets_) {
        if (box->relay == relay) out.push_back(box.get());
    }
    return out;
}

double HostSession::ItemNumber(const HostItem& item, int registerIndex) {
    switch (registerIndex) {
        case kYC: {
            float f = 0;
            std::memcpy(&f, item.value, sizeof f);
            return f;
        }
        case kYX: case kYM: case kBWYX: case kDZWR: case kLBStart: case kLBID: {
            int32_t v = 0;
            std::memcpy(&v, item.value, sizeof v);
            return registerIndex == kYM ? static_cast<double>(static_cast<uint32_t>(v)) : v;
        }
        case kLBTime: {
            uint16_t atom = 0;
            std::memcpy(&atom, item.value, sizeof atom);
            return atom;
        }
        default:
            return item.value[0];
    }
}

int64_t HostSession::ItemTime100ns(const HostItem& item) {
    return static_cast<int64_t>((static_cast<uint64_t>(item.timestamp.highDateTime) << 32) |
                                item.timestamp.lowDateTime);
}

}  // namespace vorlan_host
