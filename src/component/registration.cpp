#include "component/registration.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "component/guid.h"
#include "vorlan/driver.h"

namespace vorlan {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string HomeDirectory() {
    std::string home = Environment("HOME");
    if (!home.empty()) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

std::string Trim(const std::string& s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && (s[begin] == ' ' || s[begin] == '\t' || s[begin] == '\r')) ++begin;
    while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t' || s[end - 1] == '\r')) --end;
    return s.substr(begin, end - begin);
}

// The name of a section header line, or false for any other line.
bool SectionName(const std::string& line, std::string& name) {
    const std::string t = Trim(line);
    if (t.size() < 2 || t[0] != '[') return false;
    const size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// "dir/libvorlan.so.0" for "dir/libvorlan.so.0.1.0": the link named by the
// SONAME, which a newer version of the library takes over. Empty when the
// name has no version after ".so.".
std::string SonameLinkOf(const std::string& path) {
    const size_t so = path.rfind(".so.");
    if (so == std::string::npos || path.find('/', so) != std::string::npos) return {};
    const size_t dot = path.find('.', so + 4);
    return dot == std::string::npos ? std::string() : path.substr(0, dot);
}

// The absolute path of the file this code was loaded from, as its SONAME
// link when that leads to the same file: the registration then survives an
// upgrade that replaces the versioned file.
std::string LibraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&RegisterRelayPro), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) == nullptr) return {};
    const std::string link = SonameLinkOf(resolved);
    char linked[PATH_MAX];
    if (!link.empty() && realpath(link.c_str(), linked) != nullptr &&
        std::strcmp(linked, resolved) == 0) {
        return link;
    }
    return resolved;
}

bool MakeDirectories(const std::string& dir) {
    if (dir.empty()) return true;
    struct stat st{};
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash))) {
        return false;
    }
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// The whole file, or an empty text when it does not exist; false when it
// exists but can't be read.
bool ReadWhole(const std::string& path, std::string& text) {
    text.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    char chunk[4096];
    bool ok = true;
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        text.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    return ok;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

// Writes a sibling file and renames it over `path`, so readers see the old
// file or the new one, never a half-written one.
bool ReplaceFile(const std::string& path, const std::string& text) {
    mode_t mode = 0644;
    struct stat st{};
    if (stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

    std::string temp = path + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) return false;
    temp = name.data();
    bool ok = WriteAll(fd, text) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok) ok = rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

}  // namespace

std::string RegistrationFilePath() {
    const std::string explicitPath = Environment("VORLAN_REGISTRY");
    if (!explicitPath.empty()) return explicitPath;
    std::string config = Environment("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') {  // a relative value is to be ignored
        const std::string home = HomeDirectory();
        if (home.empty()) return {};
        config = home + "/.config";
    }
    return config + "/vorlan/registry.ini";
}

std::string ReplaceSection(const std::string& text, const std::string& section,
                           const std::string& entry) {
    std::string out;
    bool placed = false;
    bool skipping = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        const bool lastLine = end == std::string::npos;
        if (lastLine) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = lastLine ? end : end + 1;

        std::string name;
        if (SectionName(line, name)) {
            skipping = SameNameIgnoringCase(name, section);
            if (skipping) {
                if (!placed) out += entry;
                placed = true;
                continue;
            }
        }
        if (skipping) continue;
        out += line;
        if (!lastLine) out += '\n';
    }
    if (!placed) {
        if (!out.empty() && out.back() != '\n') out += '\n';
        out += entry;
    }
    return out;
}

bool RegisterRelayPro() {
    const std::string path = RegistrationFilePath();
    const std::string library = LibraryPath();
    if (path.empty() || library.empty()) return false;

    char resolved[PATH_MAX];
    const std::string target = realpath(path.c_str(), resolved) != nullptr ? resolved : path;
    const size_t slash = target.find_last_of('/');
    if (slash != std::string::npos && !MakeDirectories(target.substr(0, slash))) return false;

    std::string text;
    if (!ReadWhole(target, text)) return false;  // never overwrite what we could not read

    const std::string entry = std::string("[") + VORLAN_PROGID + "]\n" +
                              "CLSID=" + FormatGuid(CLSID_VorlanRelayPro) + "\n" +
                              "InprocServer=" + library + "\n";
    return ReplaceFile(target, ReplaceSection(text, VORLAN_PROGID, entry));
}

}  // namespace vorlan
