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

bool WriteAll(int fd, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes `content` to a fresh hidden file beside `name` and flushes it to
// disk; returns its path, or an empty text after removing what was left of it.
std::string WriteBeside(const std::string& directory, const std::string& name,
                        const std::string& content) {
    const std::string temp = directory + TempFileName(name);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return {};
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (!ok) {
        ::unlink(temp.c_str());
        return {};
    }
    return temp;
}

bool ReadSmallFile(const std::string& path, std::string& content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[4096];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || content.size() + static_cast<size_t>(got) > kMaxKeptCopyBytes) {
            ok = false;
            break;
        }
        if (got == 0) break;
        content.append(chunk, static_cast<size_t>(got));
    }
    ::close(fd);
    return ok;
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
    if (!ReadSmallFile(path, content)) return false;
    kept = WriteBeside(directory, name, content);
    return !kept.empty();
}

// Flushes the directory's entries, so the renames survive a power cut. A file
// system that can't sync a directory has nothing more to flush.
bool SyncDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
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
