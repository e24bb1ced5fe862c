#include "platform/uucp_lock.h"

#include "platform/open_error.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>

namespace vorlan {
namespace {

constexpr char kDefaultDir[] = "/run/lock";
constexpr size_t kMaxLockFileBytes = 64;  // "%10d\n", a binary PID, or junk
constexpr int kPrivateNameTries = 4;

enum class Holder { None, Live, Unknown };

struct Judgement {
    Holder holder = Holder::None;
    pid_t pid = 0;    // the live holder, when known
    std::string why;  // follows "the port <path> "
};

// The lock files this process holds, so that a lock naming our PID can be
// told apart from a leftover of an earlier process with the same PID. The
// mutex also makes one Take or Release at a time per process: a check and the
// creation that follows it are not split by another thread of ours.
std::mutex& HeldMutex() {
    static std::mutex mutex;
    return mutex;
}
std::set<std::string>& HeldHere() {
    static std::set<std::string> held;
    return held;
}

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

const char* KindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "of an unknown kind";
}

Judgement Suspect(const std::string& lockFile, const std::string& what) {
    return {Holder::Unknown, 0,
            "is taken as in use: its lock file " + lockFile + " " + what +
                " (remove it if no program uses the port)"};
}

// Opens an existing lock file for reading without blocking (a FIFO would
// wait for a writer forever) and without following a link; -1 with errno
// (ELOOP for a link). Whatever opens, the caller checks with fstat.
int OpenLockFile(const std::string& lockFile) {
    return open(lockFile.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
}

// Reads the PID from an open lock file that fstat found regular.
bool ReadPid(int fd, pid_t& pid) {
    char text[kMaxLockFileBytes];
    ssize_t got;
    do {
        got = read(fd, text, sizeof text);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return false;
    pid = PidIn(text, static_cast<size_t>(got));
    return true;
}

// Who holds `lockFile`. A regular file naming a dead process, or none, or
// our own PID while we don't hold it, is stale and removed here. Anything
// else counts as held: a lock we can't judge is kept off, never waited on.
Judgement CheckAndClearStale(const std::string& lockFile) {
    const int fd = OpenLockFile(lockFile);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) return {};
        if (error == ELOOP) return Suspect(lockFile, "is a symbolic link, not a regular file");
        return Suspect(lockFile, "can't be read (" + EnglishError(error) + ")");
    }
    struct stat st {};
    const bool statted = fstat(fd, &st) == 0;
    const int statError = errno;
    if (!statted || !S_ISREG(st.st_mode)) {
        close(fd);
        if (!statted) return Suspect(lockFile, "can't be read (" + EnglishError(statError) + ")");
        return Suspect(lockFile, std::string("is ") + KindOf(st.st_mode) + ", not a regular file");
    }
    pid_t pid = 0;
    const bool read = ReadPid(fd, pid);
    const int readError = errno;
    close(fd);
    if (!read) return Suspect(lockFile, "can't be read (" + EnglishError(readError) + ")");
    if (pid == getpid()) {
        if (HeldHere().count(lockFile) != 0) {
            return {Holder::Live, pid, "is already open in this process (lock file " + lockFile + ")"};
        }
    } else if (pid != 0 && Alive(pid)) {
        const std::string name = ProcessName(pid);
        return {Holder::Live, pid,
                "is in use by process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")") +
                    ", which holds the lock file " + lockFile};
    }
    // Stale. If it can't be removed, the device stays locked for us too.
    if (unlink(lockFile.c_str()) != 0 && errno != ENOENT) {
        const int error = errno;
        return Suspect(lockFile, "names no running process but can't be removed (" + EnglishError(error) + ")");
    }
    return {};
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

// 64 bits nobody else can guess: from the kernel's generator, or where that
// fails from the clock and a counter (still created exclusively).
uint64_t UnguessableNumber() {
    uint64_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) return value;
    static uint64_t counter = 0;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    value = (static_cast<uint64_t>(now.tv_sec) << 32) ^ static_cast<uint64_t>(now.tv_nsec) ^
            (++counter * 0x9E3779B97F4A7C15ull);
    return value;
}

// A new private file beside the lock, created exclusively under a name
// nobody can guess, so that nothing planted in the directory is written
// through. -1 with errno.
int CreatePrivateFile(const std::string& dir, std::string& name) {
    for (int attempt = 0; attempt < kPrivateNameTries; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "%016llx",
                      static_cast<unsigned long long>(UnguessableNumber()));
        name = dir + "/LTMP." + std::to_string(getpid()) + "." + suffix;
        const int fd =
            open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EAGAIN;  // not EEXIST: that would read as a lock taken by someone faster
    return -1;
}

// Writes our PID into a private file and links it in under the lock's name,
// so no reader ever sees a half-written lock. EEXIST: somebody was faster.
int CreateLockFile(const std::string& dir, const std::string& lockFile) {
    char text[16];
    const int size = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
    std::string temp;
    const int fd = CreatePrivateFile(dir, temp);
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

std::string ProcessName(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/comm";
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    char text[64];
    const ssize_t got = read(fd, text, sizeof text);
    close(fd);
    std::string name;
    for (ssize_t i = 0; i < got; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') break;
        name += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return name;
}

std::string UucpLock::Directory() {
    const char* dir = std::getenv("VORLAN_LOCK_DIR");
    return (dir != nullptr && dir[0] != '\0') ? std::string(dir) : std::string(kDefaultDir);
}

std::string UucpLock::LockFileFor(const std::string& dir, const std::string& devicePath) {
    return dir + "/LCK.." + LastPart(devicePath);
}

UucpLock::Outcome UucpLock::Take(const std::string& devicePath) {
    Release();
    why_.clear();
    holder_ = 0;
    std::lock_guard<std::mutex> guard(HeldMutex());
    const std::string dir = Directory();
    const std::string lockFile = LockFileFor(dir, Resolved(devicePath));
    const std::string linkLockFile = LockFileFor(dir, devicePath);
    const auto refuse = [this](Judgement judged) {
        why_ = std::move(judged.why);
        holder_ = judged.pid;
        return Outcome::HeldByOther;
    };
    if (linkLockFile != lockFile) {
        Judgement judged = CheckAndClearStale(linkLockFile);
        if (judged.holder != Holder::None) return refuse(std::move(judged));
    }
    // Twice: a stale lock removed here may be replaced by a racing opener.
    for (int attempt = 0; attempt < 2; ++attempt) {
        Judgement judged = CheckAndClearStale(lockFile);
        if (judged.holder != Holder::None) return refuse(std::move(judged));
        const int error = CreateLockFile(dir, lockFile);
        if (error == 0) {
            lockPath_ = lockFile;
            HeldHere().insert(lockFile);
            return Outcome::Taken;
        }
        if (error != EEXIST) return Outcome::NotPossible;
    }
    why_ = "is in use: another program took its lock file " + lockFile + " at the same moment";
    return Outcome::HeldByOther;
}

void UucpLock::Release() {
    if (lockPath_.empty()) return;
    std::lock_guard<std::mutex> guard(HeldMutex());
    HeldHere().erase(lockPath_);
    // Only a regular file that still names us is ours to remove.
    const int fd = OpenLockFile(lockPath_);
    if (fd >= 0) {
        struct stat st {};
        pid_t pid = 0;
        const bool ours = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadPid(fd, pid) && pid == getpid();
        close(fd);
        if (ours) unlink(lockPath_.c_str());
    }
    lockPath_.clear();
}

}  // namespace vorlan
