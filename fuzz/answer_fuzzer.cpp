// SPDX-License-Identifier: Apache-2.0
// Every answer through ParseAnswer and ParseProbeAnswer over a device table of
// several relays in varied states. The setting database is absent (never
// connected); recording files go to a temporary directory.
//
// Input: a state header, then records of [kind][length][bytes]:
//   header: relay count (1..4), then per relay: address, nextCommand,
//           settingState, lbIndex selector (also the announced sample count and
//           whether the entry has a time), lbRequestId low byte, then currentDevice.
//   kind bit 0: 0 = ParseAnswer, 1 = ParseProbeAnswer (probed address = kind >> 1).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "faultrec/recording_files.h"
#include "component/relay_driver.h"
#include "faultrec/recording_service.h"

using vorlan::ByteView;
using vorlan::CRelayDriver;

namespace {
std::string g_recordingDir;
void RemoveRecordingDir() {
    std::error_code ec;
    std::filesystem::remove_all(g_recordingDir, ec);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Memory-backed when there is one: a complete retrieval writes two files.
    char dir[] = "/dev/shm/vorlan-fuzz-XXXXXX";
    char fallback[] = "/tmp/vorlan-fuzz-XXXXXX";
    const char* made = mkdtemp(dir) != nullptr ? dir : mkdtemp(fallback);
    if (made != nullptr) {
        g_recordingDir = std::string(made) + "/";
        setenv("VORLAN_RECORDING_DIR", g_recordingDir.c_str(), 1);
        // Recording files are written only beside a channel configuration file.
        std::ofstream(g_recordingDir + vorlan::kChannelFileName) << "STATION\nIA A a b V 1 0 0 -1 1\n";
        std::atexit(RemoveRecordingDir);
    }
    setenv("VORLAN_MONITOR", "vorlan-fuzz-no-monitor", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteView in(data, size);
    size_t pos = 0;
    auto next = [&]() -> uint8_t { return pos < in.size() ? in.at(pos++) : 0; };

    // One driver for the whole run; the records an input can reach are reset.
    static CRelayDriver* const driver = new CRelayDriver();
    vorlan::PollingState& state = driver->State();
    state.deviceCount = 0;
    state.priorityDevice = vorlan::kNone;
    state.stayCount = 0;
    for (int i = 0; i < 4; ++i) state.devices[static_cast<size_t>(i)] = vorlan::DeviceRecord{};
    const int relays = 1 + next() % 4;
    for (int i = 0; i < relays; ++i) {
        char text[4];
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(next() % 33));
        int32_t address = 0;
        driver->AddDevice(text, &address);
        vorlan::DeviceRecord& r = state.devices[static_cast<size_t>(i)];
        r.conversation.nextCommand = static_cast<vorlan::Request>(next());
        r.settings.settingState = next();
        const uint8_t lb = next();
        r.recording.lbIndex = static_cast<int32_t>(lb % 6) - 1;  // -1..4: includes one past the list
        r.recording.lbRequestId = next();
        const size_t listed = static_cast<size_t>(r.recording.lbIndex >= 0 && r.recording.lbIndex < 4 ? r.recording.lbIndex : lb % 4);
        // Mostly short recordings, so that writing their files stays cheap.
        r.recording.lbSampleCount[listed] = static_cast<uint16_t>((lb & 0x80) ? lb * 3 : lb % 16);
        // A listed time names the files, so a complete retrieval writes them.
        if (lb & 8) r.recording.lbTime[listed] = "200312252359 5";
        // Mostly a retrieval running (its sample buffers as LBStart leaves them).
        if ((lb & 0x30) != 0) vorlan::PrepareRecordingSamples(r);
        r.recording.lbCount = static_cast<uint8_t>(lb % 5);
        r.settings.settingAnswerCode = (lb & 1) ? 0xBD : 0xAD;
    }
    state.currentDevice = next() % 33;  // may be past deviceCount

    // Sixteen answers reach every state a relay can be driven into; more only
    // repeat the file writing of completed recordings and slow the run down.
    constexpr int kMaxAnswers = 16;
    for (int answers = 0; pos < in.size() && answers < kMaxAnswers; ++answers) {
        const uint8_t kind = next();
        size_t length = next();
        if (length > in.size() - pos) length = in.size() - pos;
        // The packet cycle hands the dispatcher a buffer of its own size.
        uint8_t frame[512] = {};
        for (size_t i = 0; i < length; ++i) frame[i] = in.at(pos + i);
        pos += length;
        if ((kind & 1) == 0) {
            driver->ParseAnswer(nullptr, frame, static_cast<int32_t>(length));
        } else {
            driver->ParseProbeAnswer(static_cast<uint8_t>(kind >> 1), frame,
                                     static_cast<int32_t>(length));
        }
    }
    state.Current() = vorlan::DeviceRecord{};
    return 0;
}
