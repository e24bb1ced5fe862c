#include "recording_place.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "gbk_text.h"

namespace vorlan_host {

const char* const kChannelFileName = "通道配置文件.txt";

namespace {

constexpr const char* kDefaultDir = "/var/lib/vorlan/故障录波/";
constexpr size_t kMaxChannelFileBytes = 1 << 20;  // the driver reads no further

bool IsSpace(unsigned char b) { return b == ' ' || (b >= '\t' && b <= '\r'); }

}  // namespace

std::string RecordingDirectory() {
    const char* env = std::getenv("VORLAN_RECORDING_DIR");
    std::string dir = env && *env ? env : kDefaultDir;
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string GbkTextProblem(const std::string& bytes) {
    // UTF-8 Chinese often passes as GBK byte pairs; text that is all valid
    // UTF-8 with characters beyond ASCII is taken for what it most likely is.
    bool wide = false;
    for (char c : bytes) wide = wide || static_cast<unsigned char>(c) >= 0x80;
    if (wide && IsUtf8(bytes)) return "it is UTF-8 text, not GBK";
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) continue;
        if (b == 0x80 || b == 0xFF) return "byte " + std::to_string(i) + " is not GBK";
        const unsigned char t = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        if (t < 0x40 || t == 0x7F || t == 0xFF) return "byte " + std::to_string(i) + " starts a broken GBK character";
        ++i;
    }
    return {};
}

size_t CountTokens(const std::string& bytes) {
    size_t n = 0;
    bool inToken = false;
    for (char c : bytes) {
        const bool space = IsSpace(static_cast<unsigned char>(c));
        if (!space && !inToken) ++n;
        inToken = !space;
    }
    return n;
}

Status CheckRecordingPlace(const std::string& dir, size_t* tokens) {
    const std::string noSlash = dir.size() > 1 && dir.back() == '/' ? dir.substr(0, dir.size() - 1) : dir;
    const std::string fix = " (or point VORLAN_RECORDING_DIR at another directory)";
    struct stat st {};
    if (stat(noSlash.c_str(), &st) != 0) {
        return {kExitFile, "the recording directory " + noSlash + " does not exist (" + std::strerror(errno) +
                               "): create it with mkdir -p '" + noSlash + "'" + fix};
    }
    if (!S_ISDIR(st.st_mode)) {
        return {kExitFile, "the recording directory " + noSlash + " is not a directory" + fix};
    }
    // Try what the driver will do: create a file there.
    const std::string probe = dir + ".vorlan-write-check-" + std::to_string(getpid());
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return {kExitFile, "the recording directory " + noSlash + " is not writable (" + std::strerror(errno) +
                               "): give your user write access to it" + fix};
    }
    close(fd);
    unlink(probe.c_str());

    const std::string file = dir + kChannelFileName;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        const int e = errno;
        if (stat(file.c_str(), &st) != 0) {
            return {kExitFile, "the channel configuration file " + file +
                                   " is missing: the driver takes the station name and the channel rows of every "
                                   "recording from it; write a template with: vorlan-host channel-file --init '" +
                                   noSlash + "', then fill it in"};
        }
        return {kExitFile, "the channel configuration file " + file + " can't be read (" + std::strerror(e) +
                               "): give your user read access to it"};
    }
    std::string bytes(kMaxChannelFileBytes, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (in.bad()) return {kExitFile, "the channel configuration file " + file + " can't be read"};
    if (std::string problem = GbkTextProblem(bytes); !problem.empty()) {
        return {kExitFile, "the channel configuration file " + file + " is not GBK text (" + problem +
                               "): convert it, e.g. iconv -f UTF-8 -t GBK old.txt > '" + file + "'"};
    }
    if (tokens) *tokens = CountTokens(bytes);
    return Status::Ok();
}

}  // namespace vorlan_host
