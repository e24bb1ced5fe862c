// Why OpenChannel refused, as a host learns it through the C interface:
// errno and VorlanGetLastError for each kind of refusal, on real
// pseudo-terminals, with lock files in a private lock directory.

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "component/relay_driver.h"
#include "pty_pair.h"
#include "vorlan/driver.h"

namespace {

using vorlan_test::PtyPair;

// One component of the library as a host loads it.
class Component {
public:
    Component() {
        void* library = dlopen(VORLAN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);  // kept loaded
        if (library == nullptr) return;
        auto getClassObject =
            reinterpret_cast<decltype(&DllGetClassObject)>(dlsym(library, "DllGetClassObject"));
        lastError_ = reinterpret_cast<decltype(&VorlanGetLastError)>(dlsym(library, "VorlanGetLastError"));
        void* out = nullptr;
        if (getClassObject == nullptr ||
            getClassObject(&CLSID_VorlanRelayPro, &IID_IClassFactory, &out) != VORLAN_S_OK) {
            return;
        }
        factory_ = static_cast<IVorlanClassFactory*>(out);
        if (factory_->lpVtbl->CreateInstance(factory_, nullptr, &IID_IDeviceDriver, &out) == VORLAN_S_OK) {
            driver_ = static_cast<IDeviceDriver*>(out);
        }
    }
    ~Component() {
        if (driver_ != nullptr) driver_->lpVtbl->Release(driver_);
        if (factory_ != nullptr) factory_->lpVtbl->Release(factory_);
    }
    bool ok() const { return driver_ != nullptr && lastError_ != nullptr; }

    // OpenChannel's result, with errno as it left it.
    int32_t Open(const std::string& port, int32_t baud = 9600, uint8_t byteSize = 8) {
        ChannelConfig c;
        std::memset(&c, 0, sizeof c);
        std::snprintf(c.portName, sizeof c.portName, "%s", port.c_str());
        c.baudRate = baud;
        c.byteSize = byteSize;
        c.stopBits = 1;
        errno = 0;
        const int32_t opened = driver_->lpVtbl->OpenChannel(driver_, 0, &c);
        error = errno;
        return opened;
    }
    std::string LastError() {
        char text[512];
        const uint32_t length = lastError_(driver_, text, sizeof text);
        EXPECT_EQ(length, std::strlen(text));
        return text;
    }
    IDeviceDriver* driver() { return driver_; }
    decltype(&VorlanGetLastError) lastErrorFn() { return lastError_; }

    int error = 0;

private:
    IVorlanClassFactory* factory_ = nullptr;
    IDeviceDriver* driver_ = nullptr;
    decltype(&VorlanGetLastError) lastError_ = nullptr;
};

// Another process that stays alive until the test ends; `setup` runs in it
// first (holding a terminal, taking an flock).
class OtherProcess {
public:
    template <typename Setup>
    explicit OtherProcess(Setup setup) {
        int ready[2];
        if (pipe(ready) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            if (!setup()) _exit(1);
            (void)!write(ready[1], "x", 1);
            for (;;) pause();
        }
        close(ready[1]);
        char c = 0;
        (void)!read(ready[0], &c, 1);
        close(ready[0]);
    }
    ~OtherProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class OpenRefusalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(component.ok());
        char dir[] = "/tmp/vlr-XXXXXX";  // short: port names take 31 characters
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        setenv("VORLAN_LOCK_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VORLAN_LOCK_DIR");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string LockFor(const std::string& device) const {
        return dir_ + "/LCK.." + device.substr(device.find_last_of('/') + 1);
    }
    void WriteLock(pid_t pid) {
        char text[16];
        std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
        std::ofstream(LockFor(pty.path())) << text;
    }

    std::string dir_;
    PtyPair pty;
    Component component;
};

TEST_F(OpenRefusalTest, DeviceThatIsMissingOrNoTerminal) {
    const std::string missing = dir_ + "/ttyGone";
    EXPECT_EQ(component.Open(missing), 0);
    EXPECT_EQ(component.error, ENOENT);
    EXPECT_EQ(component.LastError(), "The port " + missing + " does not exist.");

    const std::string plain = dir_ + "/file";
    std::ofstream(plain) << "not a terminal";
    EXPECT_EQ(component.Open(plain), 0);
    EXPECT_EQ(component.error, ENOTTY);
    EXPECT_EQ(component.LastError(), "The port " + plain + " is a regular file, not a terminal.");

    EXPECT_EQ(component.Open(dir_), 0);
    EXPECT_EQ(component.error, ENOTTY);
    EXPECT_TRUE(Contains(component.LastError(), "is a directory, not a terminal")) << component.LastError();
}

TEST_F(OpenRefusalTest, PortHeldByALiveProcessNamesIt) {
    // By its lock file: the holder's PID and name.
    OtherProcess holder([] { return true; });
    WriteLock(holder.pid());
    EXPECT_EQ(component.Open(pty.path()), 0);
    EXPECT_EQ(component.error, EBUSY);
    const std::string text = component.LastError();
    EXPECT_TRUE(Contains(text, "The port " + pty.path() + " is in use by process " +
                                   std::to_string(holder.pid()) + " (")) << text;
    EXPECT_TRUE(Contains(text, LockFor(pty.path()))) << text;
    std::filesystem::remove(LockFor(pty.path()));

    // By an flock, without any lock file.
    const std::string path = pty.path();
    OtherProcess flocker([&] {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    });
    EXPECT_EQ(component.Open(pty.path()), 0);
    EXPECT_EQ(component.error, EBUSY);
    EXPECT_TRUE(Contains(component.LastError(), "flock")) << component.LastError();
}

TEST_F(OpenRefusalTest, FifoAsLockFileIsRefusedAtOnce) {
    ASSERT_EQ(mkfifo(LockFor(pty.path()).c_str(), 0666), 0);
    alarm(20);  // today's failure is a wait without end
    EXPECT_EQ(component.Open(pty.path()), 0);
    alarm(0);
    EXPECT_EQ(component.error, EBUSY);
    EXPECT_EQ(component.LastError(), "The port " + pty.path() + " is taken as in use: its lock file " +
                                         LockFor(pty.path()) +
                                         " is a FIFO, not a regular file (remove it if no program uses the port).");
}

TEST_F(OpenRefusalTest, BadSettings) {
    EXPECT_EQ(component.Open(pty.path(), 100), 0);
    EXPECT_EQ(component.error, EINVAL);
    EXPECT_EQ(component.LastError(),
              "The port " + pty.path() + " was not opened: the baud rate 100 is outside 300..57600.");
    EXPECT_EQ(component.Open(pty.path(), 9600, 9), 0);
    EXPECT_EQ(component.error, EINVAL);
    EXPECT_TRUE(Contains(component.LastError(), "byte size 9 is not 5..8")) << component.LastError();
    // The refused settings left no lock behind.
    EXPECT_FALSE(std::filesystem::exists(LockFor(pty.path())));
}

TEST_F(OpenRefusalTest, PermissionDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "root opens any device";
    ASSERT_EQ(chmod(pty.path().c_str(), 0), 0);
    EXPECT_EQ(component.Open(pty.path()), 0);
    EXPECT_EQ(component.error, EACCES);
    EXPECT_TRUE(Contains(component.LastError(), "permission denied")) << component.LastError();
}

TEST_F(OpenRefusalTest, TextIsCutToTheBufferAndClearedByASuccessfulOpen) {
    const std::string missing = dir_ + "/ttyGone";
    ASSERT_EQ(component.Open(missing), 0);
    const std::string full = "The port " + missing + " does not exist.";
    auto lastError = component.lastErrorFn();
    EXPECT_EQ(lastError(component.driver(), nullptr, 0), full.size());
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(lastError(component.driver(), small, sizeof small), full.size());
    EXPECT_EQ(std::string(small), full.substr(0, 7));
    EXPECT_EQ(lastError(nullptr, small, sizeof small), 0u);
    EXPECT_STREQ(small, "");

    ASSERT_EQ(component.Open(pty.path()), 1);
    EXPECT_EQ(lastError(component.driver(), small, sizeof small), 0u);
    EXPECT_STREQ(small, "");
    // A refusal while open keeps the open port and says why.
    EXPECT_EQ(component.Open(missing), 0);
    EXPECT_EQ(component.error, ENOENT);
    EXPECT_EQ(component.LastError(), full);
}

class LineRecorder final : public vorlan::MonitorSink {
public:
    void SendLine(const char* text, size_t size) override { lines->emplace_back(text, size); }
    std::shared_ptr<std::vector<std::string>> lines = std::make_shared<std::vector<std::string>>();
};

TEST_F(OpenRefusalTest, ReasonReachesTheMonitorOnceWhileItRepeats) {
    ASSERT_EQ(mkfifo(LockFor(pty.path()).c_str(), 0666), 0);
    LineRecorder recorder;
    auto seen = recorder.lines;
    vorlan::CRelayDriver driver(nullptr, std::make_unique<LineRecorder>(recorder));
    ChannelConfig c;
    std::memset(&c, 0, sizeof c);
    std::snprintf(c.portName, sizeof c.portName, "%s", pty.path().c_str());
    c.baudRate = 9600;
    c.byteSize = 8;
    int error = 0;
    EXPECT_EQ(driver.OpenChannelLocked(&c, &error), 0);
    EXPECT_EQ(error, EBUSY);
    EXPECT_EQ(driver.OpenChannelLocked(&c, &error), 0);
    std::string joined;
    for (size_t i = 0; i < seen->size(); ++i) {
        EXPECT_LE((*seen)[i].size(), 80u);
        joined += i == 0 ? (*seen)[i] : (*seen)[i].substr(3);
    }
    EXPECT_TRUE(Contains(joined, "open refused: The port " + pty.path() + " is taken as in use")) << joined;
    EXPECT_TRUE(Contains(joined, "is a FIFO")) << joined;
    EXPECT_EQ(joined.find("open refused", 1), std::string::npos) << joined;  // not repeated
}

}  // namespace
