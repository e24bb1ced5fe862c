// SPDX-License-Identifier: Apache-2.0
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
#include "platform/files.h"

namespace vorlan {

namespace {

constexpr size_t kMaxRegistryBytes = 16u << 20;  // far beyond any registration file

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
    // Never overwrite what could not be read whole.
    const ReadOutcome read = ReadWholeFile(target, kMaxRegistryBytes, text);
    if (read != ReadOutcome::Read && read != ReadOutcome::Missing) return false;

    const std::string entry = std::string("[") + VORLAN_PROGID + "]\n" +
                              "CLSID=" + FormatGuid(CLSID_VorlanRelayPro) + "\n" +
                              "InprocServer=" + library + "\n";
    return ReplaceFileSynced(target, ReplaceSection(text, VORLAN_PROGID, entry), 0644);
}

}  // namespace vorlan
