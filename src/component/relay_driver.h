// SPDX-License-Identifier: Apache-2.0
#pragma once
// The protocol driver object each component owns: the port, the last error,
// the device table with the polling state, the setting database and the lock
// that serialises packet calls.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "component/link_stats.h"
#include "link/frame_exchange.h"
#include "link/line_channel.h"
#include "platform/clock.h"
#include "platform/monitor_sink.h"
#include "platform/serial_port.h"
#include "model/device_record.h"
#include "protocol/answer_handlers.h"
#include "settings/setting_service.h"
#include "vorlan/driver.h"

namespace vorlan {

class CRelayDriverBase {
public:
    CRelayDriverBase() = default;
    virtual ~CRelayDriverBase();
    CRelayDriverBase(const CRelayDriverBase&) = delete;
    CRelayDriverBase& operator=(const CRelayDriverBase&) = delete;

    // The steps of the packet cycle, virtual so that tests can stand in for one.
    virtual int32_t AddDevice(const char* addressText, int32_t* address) = 0;
    virtual int32_t ServePacket(HostPacket* packet, FrameBuffer& frame, int32_t origin) = 0;
    virtual int32_t ExchangeFrame(FrameBuffer& frame) = 0;
    virtual int32_t ParseAnswer(HostPacket* packet, const uint8_t* frame, int32_t length) = 0;
    virtual int32_t ProcessPacket(HostPacket* packet, int32_t origin) = 0;
    virtual int32_t CanMerge(const ItemRef* ref, int32_t direction, HostPacket* packet) = 0;
    virtual int32_t ProbeDevice(intptr_t reserved, int32_t address, intptr_t reserved2) = 0;

    // Non-virtual operations of the base.
    static const RegisterDef* GetRegisterTable(int32_t* count);
    int16_t CheckItem(const ItemConfig* config, ItemRef* ref, const RegisterDef* catalogue,
                      int32_t count);
    const char* GetErrorText() const;
    int32_t OpenChannel(const ChannelConfig* config);
    int32_t CloseChannel();

    // The last OpenChannel refusal as a sentence (empty once a port opened),
    // copied with a NUL into `buffer` cut to fit `size`; returns its length.
    // Takes only the text's own lock, never the packet lock.
    uint32_t LastOpenError(char* buffer, uint32_t size) const;

    int32_t PortHandle() const { return port_ ? 1 : -1; }
    int32_t ErrorIndex() const { return errorIndex.load(); }

protected:
    // The driver's one clock, handed to the port it opens.
    virtual Clock& PortClock() = 0;

    std::unique_ptr<SerialPort> port_;  // the open port; null = handle -1
    std::atomic<int32_t> errorIndex{-1};
    // The last record handed to OpenChannel, copied under the lock: two host
    // threads may open the same component at once.
    ChannelConfig channel_{};
    // The open line's timing profile and what its settings file got wrong.
    bool fastLine_ = false;
    FastTiming fastTiming_;
    bool legacyQuality_ = false;  // the line serves every value good, stamped now
    // The open line's relay clocks: their zone, and whether the driver sets them.
    RelayZone relayZone_;
    bool timeSync_ = true;
    bool silentBackoff_ = false;
    uint32_t silentRetryMaxMs_ = 10'000;
    std::vector<std::string> lineNotes_;
    // Why the last OpenChannel refused; the text under its own lock, which
    // hosts read from any thread.
    int openErrorCode_ = 0;
    std::string openErrorText_;
    mutable std::mutex openErrorLock_;

private:
    void NoteOpenError(int code, std::string text);
};

// Not final: tests stand in for single steps of the packet cycle.
class CRelayDriver : public CRelayDriverBase, private AnswerHandlers {
public:
    explicit CRelayDriver(std::unique_ptr<Clock> clock = nullptr,
                          std::unique_ptr<MonitorSink> monitor = nullptr);
    ~CRelayDriver() override;

    int32_t AddDevice(const char* addressText, int32_t* address) override;
    int32_t ServePacket(HostPacket* packet, FrameBuffer& frame, int32_t origin) override;
    int32_t ExchangeFrame(FrameBuffer& frame) override;
    int32_t ParseAnswer(HostPacket* packet, const uint8_t* frame, int32_t length) override;
    int32_t ProcessPacket(HostPacket* packet, int32_t origin) override;
    int32_t CanMerge(const ItemRef* ref, int32_t direction, HostPacket* packet) override;
    int32_t ProbeDevice(intptr_t reserved, int32_t address, intptr_t reserved2) override;

    // The probe's answer check with this driver's answer handlers.
    int32_t ParseProbeAnswer(uint8_t address, const uint8_t* frame, int32_t length);

    // Configuration and packet calls from the component take the lock. On
    // refusal `error` gets the errno value for the host.
    int32_t OpenChannelLocked(const ChannelConfig* config, int* error = nullptr);
    int32_t CloseChannelLocked();

    // Per-relay link counts; readable from any thread.
    const LinkStatsTable& LinkStats() const { return linkStats_; }

    // For tests and tools inside the library: the state the packet calls work on.
    PollingState& State() { return state_; }
    Clock& GetClock() { return *clock_; }
    Clock& PortClock() override { return *clock_; }
    // Replaces the port (tests use a scripted one), with the fast profile's
    // timing when `fast` is given.
    void SetPort(std::unique_ptr<SerialPort> port, const FastTiming* fast = nullptr);

private:
    // The settings file's notes to the monitor, once for as long as they repeat.
    void TraceLineNotes();
    // A refusal's reason to the monitor, once for as long as it repeats.
    void TraceOpenError();
    // Brings the back-off of the relay at `index` up to date after an
    // exchange (lastOutcome_), and its statistics with it.
    void NoteBackoff(int32_t index);

    void StoreCodedSettings(DeviceRecord& relay, ByteView frame) override;
    void StoreSettingValues(DeviceRecord& relay, ByteView frame) override;
    void StoreRecordingList(DeviceRecord& relay, ByteView frame) override;
    void StoreRecordingBlock(DeviceRecord& relay, ByteView frame) override;

    std::unique_ptr<Clock> clock_;
    std::unique_ptr<MonitorSink> monitor_;
    PollingState state_;
    LinkStatsTable linkStats_;
    ExchangeOutcome lastOutcome_ = ExchangeOutcome::NothingSent;
    uint32_t nextAnswerWaitMs_ = 0;  // the next exchange's shorter first-byte wait; 0: the line's
    uint32_t lastAnswerDelayMs_ = 0;  // how long the last answer took to begin
    std::vector<std::string> tracedLineNotes_;
    std::string tracedOpenError_;
    std::mutex lock_;
    // Declared last so that the database goes first, then the lock, then the records.
    SettingService settings_;
};

}  // namespace vorlan
