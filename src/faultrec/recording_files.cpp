#include "faultrec/recording_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "faultrec/channel_table.h"
#include "faultrec/comtrade_text.h"
#include "faultrec/recording_limits.h"

namespace vorlan {

const char* const kChannelFileName = "通道配置文件.txt";

namespace {

// Writes `content` to a fresh, hidden file beside `path`; returns its name,
// or an empty text after removing whatever was left of it.
std::string WriteBeside(const std::string& directory, const std::string& name,
                        const std::string& content) {
    static std::atomic<unsigned> counter{0};
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%u", static_cast<long>(::getpid()),
                  counter.fetch_add(1));
    const std::string temp = directory + "." + name + suffix;

    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return {};
    size_t done = 0;
    bool ok = true;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) ok = false;
    if (!ok) {
        ::unlink(temp.c_str());
        return {};
    }
    return temp;
}

}  // namespace

void WriteRecordingFiles(DeviceRecord& relay, const std::string& directory) {
    if (!IsListPosition(relay.lbIndex)) return;
    const std::string& base = relay.lbTime[static_cast<size_t>(relay.lbIndex)];
    if (base.empty()) return;

    ChannelTable channels;
    if (!ReadChannelTable(directory + kChannelFileName, channels)) return;

    const std::string cfgName = base + ".CFG";
    const std::string datName = base + ".DAT";
    const std::string cfgTemp =
        WriteBeside(directory, cfgName, FormatConfiguration(relay, relay.lbIndex, channels));
    if (cfgTemp.empty()) return;
    const std::string datTemp = WriteBeside(directory, datName, FormatData(relay, relay.lbIndex));
    if (datTemp.empty()) {
        ::unlink(cfgTemp.c_str());
        return;
    }

    // The data file first: a configuration file never describes data it
    // wasn't written with.
    const std::string datPath = directory + datName;
    if (::rename(datTemp.c_str(), datPath.c_str()) != 0) {
        ::unlink(datTemp.c_str());
        ::unlink(cfgTemp.c_str());
        return;
    }
    if (::rename(cfgTemp.c_str(), (directory + cfgName).c_str()) != 0) {
        ::unlink(cfgTemp.c_str());
        ::unlink(datPath.c_str());
        return;
    }
    relay.lbFilesWritten = 1;
}

}  // namespace vorlan
