// The port against other programs on pseudo-terminals: lock files of the kind
// terminal programs write, and the exclusive flag after we close.
#include "platform/uucp_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "fake_clock.h"
#include "platform/linux_serial_port.h"
#include "pty_pair.h"

namespace {

using vorlan::LinuxSerialPort;
using vorlan::UucpLock;
using vorlan_test::FakeClock;
using vorlan_test::PtyPair;

// Another process that stays alive until the test ends; with `hold` it keeps
// that terminal open, as a line sharer like socat does.
class OtherProcess {
public:
    explicit OtherProcess(const std::string& hold = {}) {
        int ready[2];
        if (pipe(ready) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            if (!hold.empty() && open(hold.c_str(), O_RDWR | O_NOCTTY) < 0) _exit(1);
            (void)!write(ready[1], "x", 1);
            for (;;) pause();
        }
        close(ready[1]);
        char c = 0;
        (void)!read(ready[0], &c, 1);
        close(ready[0]);
    }
    ~OtherProcess() { End(); }
    void End() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// A process that has already ended: its PID names nobody.
pid_t DeadPid() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteLock(const std::string& path, pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    std::ofstream(path, std::ios::binary) << text;
}

std::string Basename(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

class UucpLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/vorlan-lock-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        setenv("VORLAN_LOCK_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VORLAN_LOCK_DIR");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string LockFor(const std::string& device) const { return dir_ + "/LCK.." + Basename(device); }
    std::unique_ptr<LinuxSerialPort> Open(const std::string& path) {
        return LinuxSerialPort::Open(path, vorlan::SerialSettings{}, clock_);
    }

    std::string dir_;
    FakeClock clock_;
};

TEST_F(UucpLockTest, PortLockedByALiveProcessIsRefusedAndItsLockKept) {
    PtyPair pty;
    OtherProcess terminalProgram;
    WriteLock(LockFor(pty.path()), terminalProgram.pid());
    const std::string before = ReadFile(LockFor(pty.path()));

    EXPECT_FALSE(Open(pty.path()));
    EXPECT_EQ(ReadFile(LockFor(pty.path())), before);

    // Also when the other program named the device by a link of its own.
    std::filesystem::remove(LockFor(pty.path()));
    const std::string link = dir_ + "/relayline";
    ASSERT_EQ(symlink(pty.path().c_str(), link.c_str()), 0);
    WriteLock(LockFor(link), terminalProgram.pid());
    EXPECT_FALSE(Open(link));

    // Once that program has ended, its lock is stale.
    terminalProgram.End();
    EXPECT_TRUE(Open(link));
}

TEST_F(UucpLockTest, StaleLockIsReplacedByOursAndOursGoesOnClose) {
    PtyPair pty;
    WriteLock(LockFor(pty.path()), DeadPid());
    auto port = Open(pty.path());
    ASSERT_TRUE(port);

    char mine[16];
    std::snprintf(mine, sizeof mine, "%10d\n", static_cast<int>(getpid()));
    EXPECT_EQ(ReadFile(LockFor(pty.path())), mine);  // ten characters and a newline
    // While we hold it, a second opener in this process is refused too.
    EXPECT_FALSE(Open(pty.path()));

    port->Close();
    EXPECT_FALSE(std::filesystem::exists(LockFor(pty.path())));
}

TEST_F(UucpLockTest, LockGoesWhenTheDeviceVanishes) {
    auto pty = std::make_unique<PtyPair>();
    const std::string lock = LockFor(pty->path());
    auto port = Open(pty->path());
    ASSERT_TRUE(port);
    EXPECT_TRUE(std::filesystem::exists(lock));
    pty->ClosePeer();
    size_t waiting = 0;
    EXPECT_FALSE(port->BytesWaiting(waiting));
    EXPECT_FALSE(std::filesystem::exists(lock));
}

TEST_F(UucpLockTest, LockFileOfAnotherOwnerIsNeverRemovedByUs) {
    PtyPair pty;
    auto port = Open(pty.path());
    ASSERT_TRUE(port);
    // Someone broke our lock and took the name: our close leaves theirs.
    OtherProcess other;
    WriteLock(LockFor(pty.path()), other.pid());
    port->Close();
    EXPECT_TRUE(std::filesystem::exists(LockFor(pty.path())));
}

TEST_F(UucpLockTest, WithoutAWritableLockDirectoryThePortIsUsedAnyway) {
    setenv("VORLAN_LOCK_DIR", (dir_ + "/missing").c_str(), 1);
    PtyPair pty;
    UucpLock lock;
    EXPECT_EQ(lock.Take(pty.path()), UucpLock::Outcome::NotPossible);
    EXPECT_FALSE(lock.Held());
    EXPECT_TRUE(Open(pty.path()));
}

TEST_F(UucpLockTest, UnreadableOrBinaryLocksAreJudgedByTheirPid) {
    PtyPair pty;
    // Junk names nobody: stale.
    std::ofstream(LockFor(pty.path()), std::ios::binary) << "not a pid";
    EXPECT_TRUE(Open(pty.path()));
    // A binary PID of a live process, as very old programs wrote it.
    OtherProcess other;
    const int32_t pid = other.pid();
    std::ofstream(LockFor(pty.path()), std::ios::binary)
        .write(reinterpret_cast<const char*>(&pid), sizeof pid);
    EXPECT_FALSE(Open(pty.path()));
}

// Whatever lies in the world-writable lock directory: the opening never
// waits on it, never writes through it, and says why it kept off.
TEST_F(UucpLockTest, LockThatIsNoRegularFileIsHeldAndRefusedAtOnce) {
    PtyPair pty;
    const std::string lock = LockFor(pty.path());
    struct Case {
        const char* kind;
        std::function<int()> make;
    };
    const std::string target = dir_ + "/target";
    WriteLock(target, DeadPid());  // a link to a stale lock is still not followed
    const Case cases[] = {
        {"a FIFO", [&] { return mkfifo(lock.c_str(), 0666); }},
        {"a directory", [&] { return mkdir(lock.c_str(), 0777); }},
        {"a symbolic link", [&] { return symlink(target.c_str(), lock.c_str()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        ASSERT_EQ(c.make(), 0);
        alarm(20);  // a FIFO opened for reading would wait for a writer forever
        vorlan::OpenError why;
        EXPECT_FALSE(LinuxSerialPort::Open(pty.path(), vorlan::SerialSettings{}, clock_, &why));
        alarm(0);
        EXPECT_EQ(why.code, EBUSY);
        EXPECT_NE(why.text.find(pty.path()), std::string::npos) << why.text;
        EXPECT_NE(why.text.find(lock), std::string::npos) << why.text;
        EXPECT_NE(why.text.find(std::string("is ") + c.kind + ", not a regular file"), std::string::npos)
            << why.text;
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(lock, ec)));  // left alone
        std::filesystem::remove(lock, ec);
    }
    EXPECT_EQ(ReadFile(target).size(), 11u);
}

TEST_F(UucpLockTest, PlantedPrivateNamesAreNeverWrittenThrough) {
    PtyPair pty;
    // Files and links at every name the private file used to get.
    const std::string victim = dir_ + "/victim";
    std::ofstream(victim) << "precious\n";
    const std::string prefix = dir_ + "/LTMP." + std::to_string(getpid()) + ".";
    for (int n = 0; n < 64; ++n) {
        const std::string name = prefix + std::to_string(n);
        if (n % 2 == 0) {
            std::ofstream(name) << "planted\n";
        } else {
            ASSERT_EQ(symlink(victim.c_str(), name.c_str()), 0);
        }
    }
    UucpLock lock;
    ASSERT_EQ(lock.Take(pty.path()), UucpLock::Outcome::Taken);
    EXPECT_EQ(ReadFile(victim), "precious\n");
    for (int n = 0; n < 64; n += 2) EXPECT_EQ(ReadFile(prefix + std::to_string(n)), "planted\n");
    // Nothing of ours is left beside the lock.
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 64u + 2u);  // the planted names, the victim and our lock
}

TEST_F(UucpLockTest, OwnPidIsStaleUnlessThisProcessHoldsTheLock) {
    PtyPair pty;
    const std::string lock = LockFor(pty.path());
    // Left by an earlier life of this PID (a container restart): taken over.
    WriteLock(lock, getpid());
    auto port = Open(pty.path());
    ASSERT_TRUE(port);
    EXPECT_TRUE(std::filesystem::exists(lock));

    // Held by this process: a second opener here is refused, and told so.
    UucpLock second;
    EXPECT_EQ(second.Take(pty.path()), UucpLock::Outcome::HeldByOther);
    EXPECT_NE(second.Why().find("already open in this process"), std::string::npos) << second.Why();
    vorlan::OpenError why;
    EXPECT_FALSE(LinuxSerialPort::Open(pty.path(), vorlan::SerialSettings{}, clock_, &why));
    EXPECT_EQ(why.code, EBUSY);

    // Once closed, the port is free for this process again.
    port->Close();
    EXPECT_EQ(second.Take(pty.path()), UucpLock::Outcome::Taken);
}

TEST_F(UucpLockTest, LiveHolderIsNamedByPidAndProcessName) {
    PtyPair pty;
    OtherProcess terminalProgram;
    WriteLock(LockFor(pty.path()), terminalProgram.pid());
    UucpLock lock;
    ASSERT_EQ(lock.Take(pty.path()), UucpLock::Outcome::HeldByOther);
    EXPECT_EQ(lock.HolderPid(), terminalProgram.pid());
    const std::string name = vorlan::ProcessName(terminalProgram.pid());
    ASSERT_FALSE(name.empty());
    EXPECT_NE(lock.Why().find("process " + std::to_string(terminalProgram.pid()) + " (" + name + ")"),
              std::string::npos)
        << lock.Why();
}

TEST(ExclusiveFlagTest, ClearedAfterCloseWhileAnotherProcessKeepsTheTerminalOpen) {
    setenv("VORLAN_LOCK_DIR", "/nonexistent-vorlan-lock-dir", 1);
    PtyPair pty;
    OtherProcess sharer(pty.path());  // keeps the terminal open throughout
    const int observer = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(observer, 0);
    FakeClock clock;
    auto port = LinuxSerialPort::Open(pty.path(), vorlan::SerialSettings{}, clock);
    ASSERT_TRUE(port);
    int exclusive = 0;
    ASSERT_EQ(ioctl(observer, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    port->Close();
    ASSERT_EQ(ioctl(observer, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);  // nobody is locked out after us
    close(observer);
    unsetenv("VORLAN_LOCK_DIR");
}

}  // namespace
