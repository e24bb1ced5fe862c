#pragma once
// The lock file convention that terminal programs share for serial devices:
// LCK..<device name> in /run/lock holding the owner's PID as ten ASCII
// characters and a newline. A port locked by a live process is left alone; a
// lock whose process is gone is removed. Where the directory can't be
// written the port is used without a lock file, as those programs do.
// $VORLAN_LOCK_DIR names another directory (tests use it).
//
// The directory is writable by everyone, so what lies there is untrusted:
// lock files are opened without blocking and without following links, and a
// lock that is not a regular file (a FIFO, a directory, a link, a device)
// counts as held by someone else. Our own file is written under a private
// name that nobody can guess and created exclusively. A lock naming this
// process is ours only while this process holds it (a leftover from an
// earlier life of the same PID, after a container restart, is stale).

#include <sys/types.h>

#include <string>
#include <utility>

namespace vorlan {

class UucpLock {
public:
    enum class Outcome {
        Taken,        // our lock file is in place
        NotPossible,  // no lock file could be written: go on without one
        HeldByOther,  // a live process holds the device, or the lock can't be judged: keep off it
    };

    UucpLock() = default;
    ~UucpLock() { Release(); }
    UucpLock(UucpLock&& other) noexcept
        : lockPath_(std::move(other.lockPath_)), why_(std::move(other.why_)), holder_(other.holder_) {
        other.lockPath_.clear();
    }
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;
    UucpLock& operator=(UucpLock&&) = delete;

    // Locks the device at `devicePath` (a link is followed to the device's
    // own name; a lock under the link's name also counts). Releases any lock
    // this object held before. Never blocks.
    Outcome Take(const std::string& devicePath);
    // Removes our lock file, if we hold one and it is still ours.
    void Release();

    bool Held() const { return !lockPath_.empty(); }
    const std::string& LockPath() const { return lockPath_; }

    // After Take answered HeldByOther: why, as words that follow "the port
    // <path> " ("is in use by process 42 (minicom), ..."); and the live
    // process the lock names, 0 when it names none (a lock that isn't a
    // regular file, or can't be read).
    const std::string& Why() const { return why_; }
    pid_t HolderPid() const { return holder_; }

    // $VORLAN_LOCK_DIR, else /run/lock.
    static std::string Directory();
    // "<dir>/LCK..<last part of path>".
    static std::string LockFileFor(const std::string& dir, const std::string& devicePath);

private:
    std::string lockPath_;
    std::string why_;
    pid_t holder_ = 0;
};

// The name of process `pid` from /proc/<pid>/comm, with anything but
// printable ASCII replaced by '?'; empty when it can't be read.
std::string ProcessName(pid_t pid);

}  // namespace vorlan
