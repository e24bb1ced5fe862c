// SPDX-License-Identifier: Apache-2.0
#include "platform/linux_device_identity.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace vorlan {
namespace {

// Unix98 pseudo-terminal slaves have majors 136 to 143.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;
constexpr size_t kMaxAttribute = 128;

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return std::string();
    return resolved;
}

// One line of a small sysfs attribute file, without its line end.
std::string ReadAttribute(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "re");
    if (f == nullptr) return std::string();
    char line[kMaxAttribute] = {};
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    if (!got) return std::string();
    line[std::strcspn(line, "\r\n")] = '\0';
    return line;
}

// Walks up from the tty's sysfs node to the USB device that carries it.
void ReadUsbIdentity(dev_t device, DeviceIdentity& id) {
    char node[64];
    std::snprintf(node, sizeof node, "/sys/dev/char/%u:%u", major(device), minor(device));
    std::string dir = RealPath(node);
    while (dir.size() > 1) {
        const std::string vendor = ReadAttribute(dir + "/idVendor");
        if (!vendor.empty()) {
            id.usbVendor = vendor;
            id.usbProduct = ReadAttribute(dir + "/idProduct");
            id.usbSerial = ReadAttribute(dir + "/serial");
            return;
        }
        const size_t slash = dir.rfind('/');
        if (slash == std::string::npos || slash == 0) return;
        dir.resize(slash);
    }
}

std::string ByIdLinkTo(const std::string& target) {
    static const char kByIdDir[] = "/dev/serial/by-id";
    DIR* d = opendir(kByIdDir);
    if (d == nullptr) return std::string();
    std::string found;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string link = std::string(kByIdDir) + "/" + e->d_name;
        if (RealPath(link) == target) {
            found = link;
            break;
        }
    }
    closedir(d);
    return found;
}

}  // namespace

DeviceIdentity IdentityOf(const std::string& path, int fd) {
    DeviceIdentity id;
    struct stat link {};
    id.viaLink = lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return id;
    id.device = st.st_rdev;
    const unsigned maj = major(st.st_rdev);
    id.pseudoTerminal = (maj >= kFirstPtyMajor && maj <= kLastPtyMajor) ||
                        path.compare(0, 9, "/dev/pts/") == 0;
    if (!id.pseudoTerminal) {
        ReadUsbIdentity(st.st_rdev, id);
        if (!id.usbVendor.empty()) id.byIdLink = ByIdLinkTo(RealPath(path));
    }
    return id;
}

bool MayEverReopen(const DeviceIdentity& before) {
    return before.viaLink || !before.pseudoTerminal;
}

bool MayReopenAs(const DeviceIdentity& before, const DeviceIdentity& now) {
    if (before.viaLink) return now.viaLink;
    if (before.pseudoTerminal || now.pseudoTerminal) return false;
    return before.device == now.device && before.usbVendor == now.usbVendor &&
           before.usbProduct == now.usbProduct && before.usbSerial == now.usbSerial &&
           before.byIdLink == now.byIdLink;
}

}  // namespace vorlan
