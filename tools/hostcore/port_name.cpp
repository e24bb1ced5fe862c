// SPDX-License-Identifier: Apache-2.0
#include "port_name.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vorlan_host {

std::string PortDevicePath(const std::string& port) {
    // Names the driver can take are mapped by its own rule; longer ones
    // (by-id links) are paths or names under /dev.
    if (port.size() <= kMaxPortName) {
        char path[PATH_MAX];
        const uint32_t length = VorlanPortDevicePath(port.c_str(), path, sizeof path);
        return std::string(path, length);
    }
    if (!port.empty() && port[0] == '/') return port;
    return "/dev/" + port;
}

std::string PortNameForDriver(const std::string& port, std::string& note, std::string& error) {
    note.clear();
    error.clear();
    if (port.size() <= kMaxPortName) return port;
    char resolved[PATH_MAX];
    if (!realpath(PortDevicePath(port).c_str(), resolved)) {
        error = "the port name " + port + " is longer than the driver's " + std::to_string(kMaxPortName) +
                " characters and can't be resolved to a device (" + std::strerror(errno) + ")";
        return {};
    }
    const std::string device = resolved;
    if (device.size() > kMaxPortName) {
        error = "the port name " + port + " is longer than the driver's " + std::to_string(kMaxPortName) +
                " characters, and so is its device path " + device;
        return {};
    }
    note = "the port name " + port + " is longer than the driver's " + std::to_string(kMaxPortName) +
           " characters; using its device path " + device +
           " (after an unplug the driver reopens only that same adapter)";
    return device;
}

namespace {

std::string ModeText(mode_t mode) {
    std::string text = S_ISCHR(mode) ? "c" : S_ISBLK(mode) ? "b" : S_ISDIR(mode) ? "d" : S_ISREG(mode) ? "-" : "?";
    const mode_t bits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    const char marks[] = "rwxrwxrwx";
    for (size_t i = 0; i < 9; ++i) text += (mode & bits[i]) != 0 ? marks[i] : '-';
    return text;
}

}  // namespace

std::string PermissionAdvice(const std::string& path, mode_t mode, const std::string& owner, gid_t gid,
                             const std::string& group) {
    const bool groupMayOpen = (mode & S_IRGRP) != 0 && (mode & S_IWGRP) != 0;
    if (groupMayOpen && gid != 0 && !group.empty()) {
        return "permission denied on " + path + ": add your user to the '" + group + "' group (sudo usermod -aG " +
               group + " $USER), then log in again";
    }
    const std::string who = owner.empty() ? std::string("its owner") : owner;
    std::string text = "permission denied on " + path + " (" + ModeText(mode) + " " + (owner.empty() ? "?" : owner) +
                       " " + (group.empty() ? std::to_string(gid) : group) + "): ";
    text += groupMayOpen ? "only " + who + " and the root group may open it"
                         : "only " + who + " may open it, no group gives access";
    return text + "; run as " + who + ", or have the administrator give the device a group its users may join" +
           " (a udev rule)";
}

std::string PortPermissionAdvice(const std::string& path) {
    if (access(path.c_str(), R_OK | W_OK) == 0 || errno != EACCES) return {};
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return "permission denied on " + path;
    const struct group* g = getgrgid(st.st_gid);
    const struct passwd* u = getpwuid(st.st_uid);
    return PermissionAdvice(path, st.st_mode, u != nullptr && u->pw_name != nullptr ? u->pw_name : "", st.st_gid,
                            g != nullptr && g->gr_name != nullptr ? g->gr_name : "");
}

std::string DriverReasonAsClause(const std::string& sentence) {
    std::string clause = sentence;
    if (!clause.empty() && clause.back() == '.') clause.pop_back();
    if (clause.compare(0, 4, "The ") == 0) clause[0] = 't';
    return clause;
}

}  // namespace vorlan_host
