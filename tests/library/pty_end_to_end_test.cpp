// Two relays on a real pseudo-terminal answer the polling with data and
// status changes; a host drives the real library through its interfaces and
// reads the values back.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "hex.h"
#include "platform/calendar.h"
#include "pty_pair.h"
#include "test_packet.h"
#include "vorlan/driver.h"

namespace {

using vorlan_test::TestPacket;
using vorlan_test::WithCrc;

// Plays both relays: each poll (0x83) gets the next scripted answer of its
// relay, everything else "nothing new" (0x04); broadcasts get no answer.
class TwoRelays {
public:
    TwoRelays(vorlan_test::PtyPair& pty, std::map<uint8_t, std::deque<std::vector<uint8_t>>> script)
        : pty_(pty), script_(std::move(script)), thread_([this] { Run(); }) {}
    ~TwoRelays() {
        stop_ = true;
        thread_.join();
    }
    bool ScriptDone() {
        std::lock_guard<std::mutex> guard(mutex_);
        for (const auto& entry : script_) {
            if (!entry.second.empty()) return false;
        }
        return true;
    }

private:
    void Run() {
        std::vector<uint8_t> pending;
        while (!stop_) {
            const std::vector<uint8_t> got = pty_.ReadPeer(20);
            pending.insert(pending.end(), got.begin(), got.end());
            while (pending.size() >= 3 && pending.size() >= pending[2] + 5u) {
                const size_t size = pending[2] + 5u;
                const std::vector<uint8_t> request(pending.begin(), pending.begin() + size);
                pending.erase(pending.begin(), pending.begin() + size);
                Answer(request);
            }
        }
    }
    void Answer(const std::vector<uint8_t>& request) {
        const uint8_t address = request[0];
        if (address == 0xFF) return;
        std::vector<uint8_t> answer = vorlan_test::MakeFrame(address, 0x04, {});
        {
            std::lock_guard<std::mutex> guard(mutex_);
            auto& queue = script_[address];
            if (request[1] == 0x83 && !queue.empty()) {
                answer = queue.front();
                queue.pop_front();
            }
        }
        pty_.WritePeer(answer);
    }

    vorlan_test::PtyPair& pty_;
    std::mutex mutex_;
    std::map<uint8_t, std::deque<std::vector<uint8_t>>> script_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The library as a host loads it.
struct LoadedDriver {
    LoadedDriver() {
        library = dlopen(VORLAN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return;
        auto getClassObject = reinterpret_cast<decltype(&DllGetClassObject)>(
            dlsym(library, "DllGetClassObject"));
        getAtomName = reinterpret_cast<decltype(&VorlanGetAtomName)>(
            dlsym(library, "VorlanGetAtomName"));
        if (getClassObject == nullptr) return;
        void* out = nullptr;
        if (getClassObject(&CLSID_VorlanRelayPro, &IID_IClassFactory, &out) != VORLAN_S_OK) return;
        factory = static_cast<IVorlanClassFactory*>(out);
        if (factory->lpVtbl->CreateInstance(factory, nullptr, &IID_IDeviceDriver, &out) !=
            VORLAN_S_OK) {
            return;
        }
        driver = static_cast<IDeviceDriver*>(out);
    }
    ~LoadedDriver() {
        if (driver != nullptr) {
            driver->lpVtbl->CloseChannel(driver);
            driver->lpVtbl->Release(driver);
        }
        if (factory != nullptr) factory->lpVtbl->Release(factory);
        // The library stays loaded: other tests of this program may load it too.
    }
    int32_t Read(TestPacket& p) { return driver->lpVtbl->ReadPacket(driver, &p.packet); }

    void* library = nullptr;
    IVorlanClassFactory* factory = nullptr;
    IDeviceDriver* driver = nullptr;
    decltype(&VorlanGetAtomName) getAtomName = nullptr;
};

uint64_t FileTimeOf(const vorlan::SystemTime& t) {
    uint64_t ft = 0;
    vorlan::SystemTimeToFileTime(t, ft);
    return ft;
}

TEST(PointsEndToEnd, PolledValuesAndChangesReachTheHostsItems) {
    vorlan_test::PtyPair pty;
    // Status changes of 2004-03-01 00:30:00.250 relay time, groups (2, 00 -> 05)
    // for relay 1 and (0, 01 -> 00) for relay 2.
    const std::string stamp = "00 04 20 03 01 00 30 00 50 02 00 ";
    TwoRelays relays(pty, {
        {1, {WithCrc("01 06 04 01 00 10 27"), WithCrc("01 06 04 02 03 00 81"),
             WithCrc("01 06 04 03 02 34 12"), WithCrc("01 B1 0E " + stamp + "02 00 05")}},
        {2, {WithCrc("02 06 04 01 05 FE FF"), WithCrc("02 06 04 02 00 00 FF"),
             WithCrc("02 06 04 03 13 FF FF"), WithCrc("02 B1 0E " + stamp + "00 01 00")}},
    });

    LoadedDriver host;
    ASSERT_NE(host.driver, nullptr) << dlerror();
    IDeviceDriver* d = host.driver;
    ChannelConfig channel;
    std::memset(&channel, 0, sizeof channel);
    std::strncpy(channel.portName, pty.path().c_str(), sizeof channel.portName - 1);
    channel.baudRate = 9600;
    channel.byteSize = 8;
    channel.replyTimeout = 1000;
    ASSERT_EQ(d->lpVtbl->OpenChannel(d, 0, &channel), 1);
    int32_t address = 0;
    ASSERT_EQ(d->lpVtbl->AddDevice(d, "1", &address), 1);
    ASSERT_EQ(d->lpVtbl->AddDevice(d, "2", &address), 1);

    // Each Send is one request and its answer; the follow-ups after the change
    // reports are answered "nothing new".
    int sends = 0;
    while (!relays.ScriptDone() && sends < 20) {
        TestPacket send(0, VORLAN_REG_SEND, 0, {1});
        EXPECT_EQ(host.Read(send), 1) << "send " << sends;
        ++sends;
    }
    ASSERT_TRUE(relays.ScriptDone());

    TestPacket yc1(0, VORLAN_REG_YC, 0, {1, 6});
    TestPacket yc2(1, VORLAN_REG_YC, 0, {1, 6});
    TestPacket yx1(0, VORLAN_REG_YX, 0, {25, 26, 32});
    TestPacket yx2(1, VORLAN_REG_YX, 0, {1, 8, 9});
    TestPacket ym1(0, VORLAN_REG_YM, 0, {3});
    TestPacket ym2(1, VORLAN_REG_YM, 0, {20});
    for (TestPacket* p : {&yc1, &yc2, &yx1, &yx2, &ym1, &ym2}) {
        ASSERT_EQ(host.Read(*p), 1);
        for (size_t i = 0; i < static_cast<size_t>(p->packet.items.count); ++i) {
            // Points the relays reported are good; the others wait for data, as 0.
            const int16_t q = p->item(i).quality;
            EXPECT_TRUE(q == VORLAN_QUALITY_GOOD || (q == VORLAN_QUALITY_WAITING && p->Long(i) == 0)) << q;
            EXPECT_GT(p->Stamp(i), FileTimeOf({2020, 1, 0, 1, 0, 0, 0, 0}));
        }
    }
    EXPECT_EQ(yc1.Float(0), 10000.0f);
    EXPECT_EQ(yc1.Float(1), 0.0f);
    EXPECT_EQ(yc2.Float(0), 0.0f);
    EXPECT_EQ(yc2.Float(1), -1.0f);
    EXPECT_EQ(yx1.Long(0), 1);
    EXPECT_EQ(yx1.Long(1), 0);
    EXPECT_EQ(yx1.Long(2), 1);
    EXPECT_EQ(yx2.Long(0), 1);
    EXPECT_EQ(yx2.Long(1), 1);
    EXPECT_EQ(yx2.Long(2), 0);
    EXPECT_EQ(ym1.Long(0), 4660);
    EXPECT_EQ(ym2.Long(0), 65535);

    // First BWYX read clears, the second delivers (relay time less eight hours).
    const uint64_t changeTime = FileTimeOf({2004, 2, 0, 29, 16, 30, 0, 250});
    TestPacket clear1(0, VORLAN_REG_BWYX, 0, {10017, 10018, 10019});
    ASSERT_EQ(host.Read(clear1), 1);
    EXPECT_EQ(clear1.Long(0), 0);
    EXPECT_EQ(clear1.item(0).quality, 192);
    TestPacket changes1(0, VORLAN_REG_BWYX, 0, {10017, 10018, 10019});
    ASSERT_EQ(host.Read(changes1), 1);
    EXPECT_EQ(changes1.Long(0), 1);
    EXPECT_EQ(changes1.Stamp(0), changeTime);
    EXPECT_EQ(changes1.Long(2), 1);
    EXPECT_EQ(changes1.item(2).quality, 192);

    TestPacket clear2(1, VORLAN_REG_BWYX, 0, {1});
    TestPacket changes2(1, VORLAN_REG_BWYX, 0, {1});
    ASSERT_EQ(host.Read(clear2), 1);
    ASSERT_EQ(host.Read(changes2), 1);
    EXPECT_EQ(changes2.Long(0), 1);
    EXPECT_EQ(changes2.item(0).quality, 192);
    EXPECT_EQ(changes2.Stamp(0), changeTime);
}

}  // namespace
