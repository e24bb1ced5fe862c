#include "port_name.h"

#include <grp.h>
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

std::string PortPermissionAdvice(const std::string& path) {
    if (access(path.c_str(), R_OK | W_OK) == 0 || errno != EACCES) return {};
    struct stat st {};
    std::string groupName = "dialout";
    if (stat(path.c_str(), &st) == 0) {
        if (const struct group* g = getgrgid(st.st_gid); g && g->gr_name) groupName = g->gr_name;
    }
    return "permission denied on " + path + ": add your user to the '" + groupName +
           "' group (sudo usermod -aG " + groupName + " $USER), then log in again";
}

}  // namespace vorlan_host
