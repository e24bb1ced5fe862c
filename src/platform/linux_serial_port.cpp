#include "platform/linux_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux_custom_speed.h"
#include "platform/linux_rs485.h"
#include "platform/linux_termios.h"

namespace vorlan {
namespace {

void Refuse(OpenError* why, const std::string& path, int code, const std::string& clause) {
    if (why != nullptr) why->Set(code, "The port " + path + " " + clause + ".");
}

std::string KindOf(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return "a file of unknown kind";
    if (S_ISREG(st.st_mode)) return "a regular file";
    if (S_ISDIR(st.st_mode)) return "a directory";
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISBLK(st.st_mode)) return "a block device";
    return "a character device";
}

// Why open() of the device failed, with the errno the host reads.
void RefuseOpen(OpenError* why, const std::string& path, int error) {
    switch (error) {
        case ENOENT:
            Refuse(why, path, ENOENT, "does not exist");
            return;
        case EACCES:
        case EPERM:
            Refuse(why, path, error, "can't be opened: permission denied for this user");
            return;
        case EBUSY:
            Refuse(why, path, EBUSY, "is in use: another program has it open exclusively");
            return;
        case EISDIR:
            Refuse(why, path, ENOTTY, "is a directory, not a terminal");
            return;
        case ENXIO:
        case ENODEV:
            Refuse(why, path, error, "has no device behind it (unplugged, or no hardware at that address)");
            return;
        default:
            Refuse(why, path, error, std::string("can't be opened: ") + EnglishError(error));
            return;
    }
}

// Applies `settings`; 0, or the errno for the host with `clause` saying why.
int Configure(int fd, const SerialSettings& settings, std::string& clause) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        clause = "is not a terminal";
        return ENOTTY;
    }
    if (!ApplyLineSettings(t, settings)) {
        clause = "can't take the settings: " +
                 (settings.byteSize < 5 || settings.byteSize > 8
                      ? "byte size " + std::to_string(settings.byteSize) + " is not 5..8"
                      : "parity " + std::to_string(settings.parity) + " is not 0..4");
        return EINVAL;
    }
    speed_t speed = B9600;
    const bool standard = StandardSpeed(settings.baudRate, speed);
    const std::string baud = "the baud rate " + std::to_string(settings.baudRate);
    if (standard && (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0)) {
        clause = "refuses " + baud;
        return EINVAL;
    }
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        const int error = errno;
        clause = std::string("refuses the line settings (") + EnglishError(error) + ")";
        return error == EIO || error == ENXIO || error == ENODEV ? error : EINVAL;
    }
    if (!standard && (settings.baudRate <= 0 ||
                      !SetCustomSpeed(fd, static_cast<uint32_t>(settings.baudRate)))) {
        clause = "refuses " + baud;
        return EINVAL;
    }
    if (!ApplyRs485(fd, settings.rs485)) {
        clause = "does not take the RS-485 direction control the line settings ask for";
        return EINVAL;
    }
    tcflush(fd, TCIOFLUSH);
    return 0;
}

// The device is gone (unplugged, or the pseudo-terminal's other side closed).
bool HungUp(int fd) {
    pollfd p{fd, 0, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool DeviceLost(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF || error == EPIPE;
}

}  // namespace

int OpenSerialDevice(const std::string& path, const SerialSettings& settings,
                     const DeviceIdentity* mustBe, bool* setExclusive, OpenError* why) {
    if (setExclusive != nullptr) *setExclusive = false;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        RefuseOpen(why, path, errno);
        return -1;
    }
    if (mustBe != nullptr && !MayReopenAs(*mustBe, IdentityOf(path, fd))) {
        close(fd);
        Refuse(why, path, ENODEV, "no longer leads to the device first opened");
        return -1;
    }
    if (!isatty(fd)) {
        Refuse(why, path, ENOTTY, "is " + KindOf(fd) + ", not a terminal");
        close(fd);
        return -1;
    }
    // TIOCEXCL keeps other openers out, except root; the lock stops root too.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) {
            Refuse(why, path, EBUSY, "is in use: another program holds an exclusive lock (flock) on it");
        } else {
            Refuse(why, path, error, std::string("can't be locked: ") + EnglishError(error));
        }
        return -1;
    }
    // A flag someone else set is left as it was found.
    int wasExclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &wasExclusive) != 0) wasExclusive = 0;
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        close(fd);
        Refuse(why, path, error, std::string("can't be made exclusive: ") + EnglishError(error));
        return -1;
    }
    const bool clear = wasExclusive == 0;
    std::string clause;
    if (const int error = Configure(fd, settings, clause); error != 0) {
        CloseSerialDevice(fd, clear);
        Refuse(why, path, error, clause);
        return -1;
    }
    if (setExclusive != nullptr) *setExclusive = clear;
    return fd;
}

void CloseSerialDevice(int fd, bool clearExclusive) {
    if (fd < 0) return;
    if (clearExclusive) ioctl(fd, TIOCNXCL);
    close(fd);  // releases the flock
}

std::unique_ptr<LinuxSerialPort> LinuxSerialPort::Open(const std::string& path,
                                                       const SerialSettings& settings,
                                                       Clock& clock, OpenError* why) {
    if (why != nullptr) why->Clear();
    // A missing device is said as such, whatever lies in the lock directory.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 && errno == ENOENT) {
        RefuseOpen(why, path, ENOENT);
        return nullptr;
    }
    UucpLock lock;
    if (lock.Take(path) == UucpLock::Outcome::HeldByOther) {
        Refuse(why, path, EBUSY, lock.Why());
        return nullptr;
    }
    bool clearExclusive = false;
    const int fd = OpenSerialDevice(path, settings, nullptr, &clearExclusive, why);
    if (fd < 0) return nullptr;  // the lock file goes with `lock`
    DeviceIdentity identity = IdentityOf(path, fd);
    return std::unique_ptr<LinuxSerialPort>(new LinuxSerialPort(
        path, settings, clock, fd, clearExclusive, std::move(identity), std::move(lock)));
}

LinuxSerialPort::LinuxSerialPort(std::string path, const SerialSettings& settings, Clock& clock,
                                 int fd, bool clearExclusive, DeviceIdentity identity,
                                 UucpLock lock)
    : path_(std::move(path)),
      identity_(std::move(identity)),
      settings_(settings),
      clock_(clock),
      fd_(fd),
      clearExclusive_(clearExclusive),
      uucpLock_(std::move(lock)) {}

LinuxSerialPort::~LinuxSerialPort() { Close(); }

void LinuxSerialPort::ReleaseDevice() {
    // The lock file goes first: once the descriptor is closed, a vanished
    // pseudo-terminal's number may go to another opener at once, who must
    // not find our lock on it.
    uucpLock_.Release();
    CloseSerialDevice(fd_, clearExclusive_);
    fd_ = -1;
    clearExclusive_ = false;
}

void LinuxSerialPort::Close() {
    closed_ = true;
    ReleaseDevice();
}

void LinuxSerialPort::DropDeadDevice() {
    ReleaseDevice();
    triedReopen_ = false;
}

bool LinuxSerialPort::ReopenIfDue() {
    if (closed_ || !MayEverReopen(identity_)) return false;
    const uint32_t now = clock_.TickMs();
    if (triedReopen_ && now - lastReopenTick_ < kReopenIntervalMs) return false;
    triedReopen_ = true;
    lastReopenTick_ = now;
    if (uucpLock_.Take(path_) == UucpLock::Outcome::HeldByOther) return false;
    fd_ = OpenSerialDevice(path_, settings_, &identity_, &clearExclusive_);
    if (fd_ < 0) uucpLock_.Release();
    return fd_ >= 0;
}

bool LinuxSerialPort::Write(const uint8_t* data, size_t size) {
    if (fd_ < 0 && !ReopenIfDue()) return false;
    if (size == 0) return true;
    if (data == nullptr) return false;
    // Times come from the driver's clock; a wait that poll() ends without
    // progress is taken as the budget spent, so a clock that only advances
    // when slept (in tests) still bounds the write.
    const uint32_t start = clock_.TickMs();
    const uint64_t budget = static_cast<uint64_t>(size) * kWriteBudgetPerByteMs;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd_, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            if (DeviceLost(errno)) DropDeadDevice();
            return false;
        }
        const uint64_t spent = clock_.TickMs() - start;
        if (spent >= budget) return false;
        pollfd p{fd_, POLLOUT, 0};
        const int ready = poll(&p, 1, static_cast<int>(budget - spent));
        if (ready == 0) return false;
        if (ready < 0 && errno != EINTR) return false;
        if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            DropDeadDevice();
            return false;
        }
    }
    return true;
}

bool LinuxSerialPort::BytesWaiting(size_t& count) {
    count = 0;
    if (fd_ < 0) return false;
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0) {
        if (DeviceLost(errno)) DropDeadDevice();
        return false;
    }
    if (waiting <= 0 && HungUp(fd_)) {
        DropDeadDevice();
        return false;
    }
    count = waiting > 0 ? static_cast<size_t>(waiting) : 0;
    return true;
}

WaitResult LinuxSerialPort::WaitReadable(uint32_t timeoutMs) {
    if (fd_ < 0) return WaitResult::Failed;
    const uint32_t start = clock_.TickMs();
    for (;;) {
        const uint32_t spent = clock_.TickMs() - start;
        const int wait = spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return WaitResult::Failed;
        if (ready == 0) return WaitResult::TimedOut;
        if ((p.revents & POLLIN) != 0) return WaitResult::Readable;
        DropDeadDevice();  // hung up or failed
        return WaitResult::Failed;
    }
}

void LinuxSerialPort::DiscardInput() {
    if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
}

bool LinuxSerialPort::Read(uint8_t* buffer, size_t capacity, size_t& got) {
    got = 0;
    if (fd_ < 0 || buffer == nullptr) return false;
    if (capacity == 0) return true;
    for (;;) {
        const ssize_t n = read(fd_, buffer, capacity);
        if (n > 0) {
            got = static_cast<size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return true;
        // With no minimum count a live terminal answers 0 when nothing waits;
        // a hung-up one answers 0 or an error.
        if (n == 0 && !HungUp(fd_)) return true;
        if (n == 0 || DeviceLost(errno)) DropDeadDevice();
        return false;
    }
}

}  // namespace vorlan
