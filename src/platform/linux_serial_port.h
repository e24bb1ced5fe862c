#pragma once
// A serial device on Linux (on-board UART, USB adapter or pseudo-terminal),
// held exclusively, raw and non-blocking. Exclusive against every kind of
// other program: a flock for those that take one, TIOCEXCL against plain
// openers, and the lock file that terminal programs honour (uucp_lock.h). When the device vanishes the dead
// descriptor is closed at once, so a re-plugged adapter can get its old name
// back, and the same path is reopened with the same settings before a later
// write, at most once a second, but only when it leads to the same device
// (see linux_device_identity.h). While the device is gone nothing is held,
// the lock file included.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/linux_device_identity.h"
#include "platform/open_error.h"
#include "platform/serial_port.h"
#include "platform/uucp_lock.h"

namespace vorlan {

class LinuxSerialPort final : public SerialPort {
public:
    // Opens the existing device at `path` and applies `settings`; null when
    // the device can't be opened, is held by another opener (or locked by a
    // live process's lock file, or by a lock file that can't be judged), is
    // not a terminal or refuses the settings; `why` (when given) then says
    // which, with the errno a host reads. `clock` paces the reopening and
    // must outlive the port. Never blocks on the lock directory.
    static std::unique_ptr<LinuxSerialPort> Open(const std::string& path,
                                                 const SerialSettings& settings, Clock& clock,
                                                 OpenError* why = nullptr);
    ~LinuxSerialPort() override;
    LinuxSerialPort(const LinuxSerialPort&) = delete;
    LinuxSerialPort& operator=(const LinuxSerialPort&) = delete;

    bool IsOpen() const override { return fd_ >= 0; }
    // Fails when not all bytes are taken within 40 ms per byte.
    bool Write(const uint8_t* data, size_t size) override;
    bool BytesWaiting(size_t& count) override;
    bool Read(uint8_t* buffer, size_t capacity, size_t& got) override;
    // poll() on the descriptor; a hung-up device fails.
    WaitResult WaitReadable(uint32_t timeoutMs) override;
    void DiscardInput() override;
    void Close() override;

    // The descriptor, -1 while the device is gone.
    int Descriptor() const { return fd_; }

    static constexpr uint32_t kWriteBudgetPerByteMs = 40;
    static constexpr uint32_t kReopenIntervalMs = 1000;

private:
    LinuxSerialPort(std::string path, const SerialSettings& settings, Clock& clock, int fd,
                    bool clearExclusive, DeviceIdentity identity, UucpLock lock);
    void DropDeadDevice();
    void ReleaseDevice();
    bool ReopenIfDue();

    std::string path_;
    DeviceIdentity identity_;  // of the device first opened
    SerialSettings settings_;
    Clock& clock_;
    int fd_ = -1;
    bool clearExclusive_ = false;  // we set TIOCEXCL, so we clear it
    UucpLock uucpLock_;
    bool closed_ = false;        // Close() called: no reopening
    bool triedReopen_ = false;   // an attempt was made since the device died
    uint32_t lastReopenTick_ = 0;
};

// Opens `path` exclusively and configures it; returns the descriptor or -1.
// With `mustBe`, a device that may not stand in for that one is closed again
// before anything is set on it. `setExclusive` tells whether this call set
// TIOCEXCL (false when the device was exclusive already). On failure `why`
// (when given) says why.
int OpenSerialDevice(const std::string& path, const SerialSettings& settings,
                     const DeviceIdentity* mustBe = nullptr, bool* setExclusive = nullptr,
                     OpenError* why = nullptr);

// Closes a descriptor from OpenSerialDevice. With `clearExclusive` it first
// takes TIOCEXCL off: the flag belongs to the terminal, not the descriptor,
// and outlives our close while another process keeps the terminal open.
void CloseSerialDevice(int fd, bool clearExclusive);

}  // namespace vorlan
