#include "platform/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vorlan {
namespace {

constexpr char kDefaultDir[] = "/run/lock";
constexpr size_t kMaxLockFileBytes = 64;  // "%10d\n", a binary PID, or junk

enum class Holder { None, Live, Unknown };

// The PID a lock file names: ten ASCII characters (leading blanks), or a
// 4-byte binary PID as very old programs wrote it. 0 when it names none.
pid_t PidIn(const char* text, size_t size) {
    size_t i = 0;
    while (i < size && text[i] == ' ') ++i;
    long pid = 0;
    size_t digits = 0;
    for (; i < size && text[i] >= '0' && text[i] <= '9' && digits < 10; ++i, ++digits) {
        pid = pid * 10 + (text[i] - '0');
    }
    const bool ascii = digits > 0 && (i == size || text[i] == '\n');
    if (ascii) return (pid > 0 && pid <= INT_MAX) ? static_cast<pid_t>(pid) : 0;
    if (size == sizeof(int32_t)) {
        int32_t binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        if (binary > 0) return static_cast<pid_t>(binary);
    }
    return 0;
}

bool Alive(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// Who holds `lockFile`. A file naming a dead process, or none, is stale and
// removed here. A file we can't read counts as held: it is someone's lock.
Holder CheckAndClearStale(const std::string& lockFile) {
    const int fd = open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return errno == ENOENT ? Holder::None : Holder::Unknown;
    char text[kMaxLockFileBytes];
    ssize_t got;
    do {
        got = read(fd, text, sizeof text);
    } while (got < 0 && errno == EINTR);
    close(fd);
    if (got < 0) return Holder::Unknown;
    const pid_t pid = PidIn(text, static_cast<size_t>(got));
    if (pid != 0 && Alive(pid)) return Holder::Live;
    // Stale. If it can't be removed, the device stays locked for us too.
    if (unlink(lockFile.c_str()) != 0 && errno != ENOENT) return Holder::Unknown;
    return Holder::None;
}

bool WriteAll(int fd, const char* text, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, text + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes our PID into a private file beside the lock and links it in, so no
// reader ever sees a half-written lock. EEXIST: somebody was faster.
int CreateLockFile(const std::string& dir, const std::string& lockFile) {
    char text[16];
    const int size = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
    // One name per attempt: components may open ports on several threads.
    static std::atomic<unsigned> attempts{0};
    const std::string temp =
        dir + "/LTMP." + std::to_string(getpid()) + "." + std::to_string(attempts++);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return errno;
    const bool written = WriteAll(fd, text, static_cast<size_t>(size));
    close(fd);
    int result = 0;
    if (!written) {
        result = EIO;
    } else if (link(temp.c_str(), lockFile.c_str()) != 0) {
        result = errno;
    }
    unlink(temp.c_str());
    return result;
}

std::string LastPart(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The device's own path when `path` is a link to it.
std::string Resolved(const std::string& path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) != nullptr ? std::string(real) : path;
}

}  // namespace

std::string UucpLock::Directory() {
    const char* dir = std::getenv("VORLAN_LOCK_DIR");
    return (dir != nullptr && dir[0] != '\0') ? std::string(dir) : std::string(kDefaultDir);
}

std::string UucpLock::LockFileFor(const std::string& dir, const std::string& devicePath) {
    return dir + "/LCK.." + LastPart(devicePath);
}

UucpLock::Outcome UucpLock::Take(const std::string& devicePath) {
    Release();
    const std::string dir = Directory();
    const std::string lockFile = LockFileFor(dir, Resolved(devicePath));
    const std::string linkLockFile = LockFileFor(dir, devicePath);
    if (linkLockFile != lockFile && CheckAndClearStale(linkLockFile) != Holder::None) {
        return Outcome::HeldByOther;
    }
    // Twice: a stale lock removed here may be replaced by a racing opener.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (CheckAndClearStale(lockFile) != Holder::None) return Outcome::HeldByOther;
        const int error = CreateLockFile(dir, lockFile);
        if (error == 0) {
            lockPath_ = lockFile;
            return Outcome::Taken;
        }
        if (error != EEXIST) return Outcome::NotPossible;
    }
    return Outcome::HeldByOther;
}

void UucpLock::Release() {
    if (lockPath_.empty()) return;
    // Only a file that still names us is ours to remove.
    const int fd = open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
        char text[kMaxLockFileBytes];
        const ssize_t got = read(fd, text, sizeof text);
        close(fd);
        if (got > 0 && PidIn(text, static_cast<size_t>(got)) == getpid()) unlink(lockPath_.c_str());
    }
    lockPath_.clear();
}

}  // namespace vorlan
