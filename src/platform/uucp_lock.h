#pragma once
// The lock file convention that terminal programs share for serial devices:
// LCK..<device name> in /run/lock holding the owner's PID as ten ASCII
// characters and a newline. A port locked by a live process is left alone; a
// lock whose process is gone is removed. Where the directory can't be
// written the port is used without a lock file, as those programs do.
// $VORLAN_LOCK_DIR names another directory (tests use it).

#include <string>
#include <utility>

namespace vorlan {

class UucpLock {
public:
    enum class Outcome {
        Taken,        // our lock file is in place
        NotPossible,  // no lock file could be written: go on without one
        HeldByOther,  // a live process holds the device: keep off it
    };

    UucpLock() = default;
    ~UucpLock() { Release(); }
    UucpLock(UucpLock&& other) noexcept : lockPath_(std::move(other.lockPath_)) {
        other.lockPath_.clear();
    }
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;
    UucpLock& operator=(UucpLock&&) = delete;

    // Locks the device at `devicePath` (a link is followed to the device's
    // own name; a lock under the link's name also counts). Releases any lock
    // this object held before.
    Outcome Take(const std::string& devicePath);
    // Removes our lock file, if we hold one and it is still ours.
    void Release();

    bool Held() const { return !lockPath_.empty(); }
    const std::string& LockPath() const { return lockPath_; }

    // $VORLAN_LOCK_DIR, else /run/lock.
    static std::string Directory();
    // "<dir>/LCK..<last part of path>".
    static std::string LockFileFor(const std::string& dir, const std::string& devicePath);

private:
    std::string lockPath_;
};

}  // namespace vorlan
