// SPDX-License-Identifier: Apache-2.0
#pragma once
// One component on one channel, driven as a SCADA host drives it: relays
// registered with AddDevice, items checked with CheckItem and grouped into
// packets with CanMerge, packets run with ReadPacket and WritePacket.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver_library.h"
#include "exit_codes.h"
#include "line_watch.h"
#include "packet_box.h"
#include "relay_health.h"
#include "station_file.h"
#include "vorlan/driver.h"

namespace vorlan_host {

// Short names of the catalogue's register indexes (VorlanRegister).
enum Register : int {
    kSend = VORLAN_REG_SEND, kShow = VORLAN_REG_SHOW, kYC = VORLAN_REG_YC, kYX = VORLAN_REG_YX,
    kYM = VORLAN_REG_YM, kYK = VORLAN_REG_YK, kDZone = VORLAN_REG_DZONE, kFG = VORLAN_REG_FG,
    kRtuType = VORLAN_REG_RTUTYPE, kBWYX = VORLAN_REG_BWYX, kDZWR = VORLAN_REG_DZWR,
    kDZNow = VORLAN_REG_DZNOW, kLBStart = VORLAN_REG_LBSTART, kLBID = VORLAN_REG_LBID,
    kLBTime = VORLAN_REG_LBTIME, kLBCount = VORLAN_REG_LBCOUNT
};

struct PacketCounts {
    uint64_t ok = 0;
    uint64_t failed = 0;
};

class HostSession {
public:
    HostSession(DriverLibrary& library, Station station);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Creates the component and registers the relays; with `checkItems` the
    // station's items are checked and grouped into read packets.
    Status Start(bool checkItems);
    // Opens the channel; a missing or busy port gives kExitPort.
    Status OpenChannel();

    const Station& station() const { return station_; }
    size_t relayCount() const { return station_.relays.size(); }
    // Index of the relay with `address`, or -1.
    int RelayByAddress(int address) const;

    // Checks one item; the driver's reason (as UTF-8) on rejection.
    Status CheckItem(size_t relay, const std::string& text, int16_t dataType, ItemRef& ref);

    // One Send packet named for `relay`: one request on the line for the relay
    // the driver's rotation chooses. Counts the outcome for `relay` and
    // reports the line going and coming back.
    bool Send(size_t relay);
    // Sends round the relays in turn.
    bool SendNext();

    // A read packet of one item (built once, kept).
    PacketBox* Reader(size_t relay, const std::string& text);
    bool Run(PacketBox& box);
    // Reads a register of one item as a number (byte, long or float by register).
    bool ReadNumber(size_t relay, const std::string& text, double& value);
    // One-shot write of one item.
    Status Write(size_t relay, const std::string& text, int32_t value);
    // The LBTime text of a list entry 1..4.
    std::string RecordingTime(size_t relay, int entry);

    // ProbeDevice for the relay: does it answer the general poll?
    bool Probe(size_t relay);

    // The read packets built from the station's items.
    std::vector<PacketBox*> StationPackets(size_t relay);

    const PacketCounts& counts(size_t relay) const { return counts_.at(relay); }
    // The driver's own account of the relay's link (VorlanGetRelayStats).
    RelayHealth Health(size_t relay) const;
    const RegisterDef* catalogue() const { return catalogue_; }
    // The component, for the driver's own per-relay statistics.
    IDeviceDriver* driver() const { return driver_; }
    DriverLibrary& library() { return library_; }

    // Where the line's ups and downs are reported (standard error by default).
    std::function<void(const std::string&)> onLineEvent;

    // The value of an item as a number, by its register.
    static double ItemNumber(const HostItem& item, int registerIndex);
    static int64_t ItemTime100ns(const HostItem& item);

private:
    std::unique_ptr<PacketBox> MakePacket(size_t relay, const ItemRef& ref, int16_t direction);
    Status RegisterRelays();
    // Checks the station's items and groups each relay's into read packets.
    Status GroupStationItems();
    // The driver's reason for refusing an item, with its English; empty when taken.
    std::string Refusal(size_t relay, const std::string& text, int16_t dataType, ItemRef& ref);
    // "YM takes 1..20" when `text` lies outside its register's addresses, else empty.
    std::string AllowedRange(const std::string& text) const;
    // Puts the item into one of `mine` that the driver merges it with, or a new packet.
    void MergeOrAdd(size_t relay, const ItemRef& ref, std::vector<PacketBox*>& mine);
    void Report(const std::string& lineEvent);
    std::string PortPath() const;
    bool PortPresent() const;

    DriverLibrary& library_;
    Station station_;
    IDeviceDriver* driver_ = nullptr;
    IDeviceDriverControl* control_ = nullptr;
    bool channelOpen_ = false;
    const RegisterDef* catalogue_ = nullptr;
    int32_t catalogueSize_ = 0;
    std::vector<std::unique_ptr<PacketBox>> sendPackets_;
    std::vector<std::unique_ptr<PacketBox>> stationPackets_;
    std::vector<std::pair<std::string, std::unique_ptr<PacketBox>>> readers_;
    std::vector<PacketCounts> counts_;
    size_t nextSend_ = 0;
    LineWatch line_;
};

}  // namespace vorlan_host
