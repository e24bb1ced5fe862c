// SPDX-License-Identifier: Apache-2.0
#include "sim_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vorlan_sim {

namespace {

std::string Error(const std::string& what) { return what + ": " + std::strerror(errno); }

speed_t SpeedOf(int baud) {
    switch (baud) {
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;
    }
}

}  // namespace

SimPort::~SimPort() { Close(); }

std::string SimPort::Open(const LineConfig& line) {
    Close();
    return line.device.empty() ? OpenPty(line) : OpenDevice(line);
}

std::string SimPort::OpenPty(const LineConfig& line) {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return Error("creating a pseudo-terminal");
    if (grantpt(fd_) != 0 || unlockpt(fd_) != 0) return Error("unlocking the pseudo-terminal");
    char name[128] = {};
    if (ptsname_r(fd_, name, sizeof name) != 0) return Error("naming the pseudo-terminal");
    path_ = name;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
    // The slave starts raw, so nothing is echoed before the driver sets it up.
    keepSlave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keepSlave_ >= 0 && tcgetattr(keepSlave_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(keepSlave_, TCSANOW, &t);
    }
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    if (!line.link.empty()) {
        struct stat st {};
        if (lstat(line.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            return line.link + " exists and is not a symbolic link; not replacing it";
        }
        // Replace the link atomically, so a driver reopening it never misses.
        const std::string temp = line.link + ".new";
        unlink(temp.c_str());
        if (symlink(path_.c_str(), temp.c_str()) != 0) return Error("making the link " + line.link);
        if (rename(temp.c_str(), line.link.c_str()) != 0) {
            unlink(temp.c_str());
            return Error("making the link " + line.link);
        }
        link_ = line.link;
    }
    return {};
}

std::string SimPort::OpenDevice(const LineConfig& line) {
    fd_ = open(line.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return Error("opening " + line.device);
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const std::string e = Error(line.device + " is in use");
        Close();
        return e;
    }
    termios t{};
    if (tcgetattr(fd_, &t) != 0) {
        const std::string e = Error(line.device + " is not a serial device");
        Close();
        return e;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_cflag |= line.byteSize == 5 ? CS5 : line.byteSize == 6 ? CS6 : line.byteSize == 7 ? CS7 : CS8;
    if (line.parity == 1) t.c_cflag |= PARENB | PARODD;
    if (line.parity == 2) t.c_cflag |= PARENB;
    if (line.stopBits == 2) t.c_cflag |= CSTOPB;
    const speed_t speed = SpeedOf(line.baud);
    if (speed == B0) {
        Close();
        return "baud rate " + std::to_string(line.baud) + " is not a standard rate";
    }
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
        const std::string e = Error("setting up " + line.device);
        Close();
        return e;
    }
    tcflush(fd_, TCIOFLUSH);
    path_ = line.device;
    return {};
}

void SimPort::Close() {
    if (!link_.empty()) {
        // Only our own link goes: another simulator may have taken the name since.
        char target[256] = {};
        const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0 && path_ == std::string(target, static_cast<size_t>(n))) unlink(link_.c_str());
        link_.clear();
    }
    if (keepSlave_ >= 0) close(keepSlave_);
    if (fd_ >= 0) close(fd_);
    keepSlave_ = fd_ = -1;
    path_.clear();
}

}  // namespace vorlan_sim
