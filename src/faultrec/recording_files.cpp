// SPDX-License-Identifier: Apache-2.0
#include "faultrec/recording_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "faultrec/channel_table.h"
#include "faultrec/comtrade_text.h"
#include "model/recording_limits.h"
#include "faultrec/recording_temp_files.h"
#include "platform/files.h"

namespace vorlan {

const char* const kChannelFileName = "通道配置文件.txt";

namespace {

// An earlier data file copied aside is a recording's, far below this.
constexpr size_t kMaxKeptCopyBytes = 16u << 20;

// One writer at a time in this process, so the clean-up of crashed writers'
// temporary files never meets one of ours in flight.
std::mutex& WriterMutex() {
    static std::mutex mutex;
    return mutex;
}

// Writes `content` to a fresh hidden file beside `name` and flushes it to
// disk; returns its path, or an empty text after removing what was left of it.
std::string WriteBeside(const std::string& directory, const std::string& name,
                        const std::string& content) {
    const std::string temp = directory + TempFileName(name);
    if (!WriteNewFileSynced(temp, content)) return {};
    return temp;
}

// Keeps the file now called `name` under a temporary name, so it can be put
// back: `kept` is that path, or empty when there is no such file. A second
// link where the file system has them, else a copy.
bool KeepEarlier(const std::string& directory, const std::string& name, std::string& kept) {
    const std::string path = directory + name;
    kept = directory + TempFileName(name);
    if (::link(path.c_str(), kept.c_str()) == 0) return true;
    if (errno == ENOENT) {
        kept.clear();
        return true;
    }
    std::string content;
    if (ReadWholeFile(path, kMaxKeptCopyBytes, content) != ReadOutcome::Read) return false;
    kept = WriteBeside(directory, name, content);
    return !kept.empty();
}

void Unlink(const std::string& path) {
    if (!path.empty()) ::unlink(path.c_str());
}

}  // namespace

void WriteRecordingFiles(DeviceRecord& relay, const std::string& directory) {
    if (!IsListPosition(relay.recording.lbIndex) || !relay.recording.samples) return;
    const std::string& base = relay.recording.lbTime[static_cast<size_t>(relay.recording.lbIndex)];
    if (base.empty()) return;

    ChannelTable channels;
    if (!ReadChannelTable(directory + kChannelFileName, channels)) return;

    std::lock_guard<std::mutex> hold(WriterMutex());
    RemoveLeftoverTempFiles(directory);

    const std::string cfgName = base + ".CFG";
    const std::string datName = base + ".DAT";
    const std::string cfgTemp =
        WriteBeside(directory, cfgName, FormatConfiguration(relay, relay.recording.lbIndex, channels));
    if (cfgTemp.empty()) return;
    const std::string datTemp = WriteBeside(directory, datName, FormatData(relay, relay.recording.lbIndex));
    std::string keptDat;
    if (datTemp.empty() || !KeepEarlier(directory, datName, keptDat)) {
        Unlink(datTemp);
        Unlink(cfgTemp);
        return;
    }

    // The data file first: a configuration file never describes data it
    // wasn't written with.
    const std::string datPath = directory + datName;
    if (::rename(datTemp.c_str(), datPath.c_str()) != 0) {
        Unlink(datTemp);
        Unlink(cfgTemp);
        Unlink(keptDat);
        return;
    }
    if (::rename(cfgTemp.c_str(), (directory + cfgName).c_str()) != 0) {
        // The earlier pair stays whole: its data file goes back (or the new
        // one goes, where there was none).
        if (keptDat.empty()) {
            Unlink(datPath);
        } else {
            ::rename(keptDat.c_str(), datPath.c_str());
        }
        Unlink(cfgTemp);
        SyncDirectory(directory);
        return;
    }
    Unlink(keptDat);
    if (!SyncDirectory(directory)) return;
    relay.recording.lbFilesWritten = 1;
}

}  // namespace vorlan
