// SPDX-License-Identifier: Apache-2.0
// ports: the serial ports of this machine, from sysfs: kernel name, the
// stable /dev/serial/by-id name, the kernel driver and, for USB adapters,
// vendor and product.

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "output.h"

namespace vorlan_host {

namespace {

struct PortInfo {
    std::string name;       // ttyUSB0
    std::string byId;       // /dev/serial/by-id/...
    std::string driver;     // ftdi_sio, serial8250, ...
    std::string vendorId, productId, manufacturer, product, serial;
};

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : std::string();
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') out.push_back(e->d_name);
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The kernel names behind /dev/serial/by-id.
std::map<std::string, std::string> ByIdLinks() {
    std::map<std::string, std::string> links;
    const std::string dir = "/dev/serial/by-id/";
    for (const std::string& e : Entries(dir)) {
        const std::string target = RealPath(dir + e);
        if (!target.empty()) links[target.substr(target.rfind('/') + 1)] = dir + e;
    }
    return links;
}

// The legacy 8250 driver makes ttyS0..31 whether a UART is there or not;
// those without one have port type 0.
bool IsRealPort(const std::string& name) {
    const std::string type = ReadLine("/sys/class/tty/" + name + "/type");
    return type != "0";
}

// The kernel driver of a device, past the generic serial-base layer ("port", "ctrl").
std::string DriverOf(const std::string& deviceDir) {
    for (std::string dir = deviceDir; dir.size() > 1; dir = dir.substr(0, dir.rfind('/'))) {
        const std::string driver = RealPath(dir + "/driver");
        if (driver.empty()) continue;
        const std::string name = driver.substr(driver.rfind('/') + 1);
        if (name != "port" && name != "ctrl") return name;
    }
    return {};
}

std::vector<PortInfo> SerialPorts() {
    const auto links = ByIdLinks();
    std::vector<PortInfo> ports;
    for (const std::string& name : Entries("/sys/class/tty/")) {
        const std::string device = "/sys/class/tty/" + name + "/device";
        struct stat st {};
        if (stat(device.c_str(), &st) != 0) continue;  // virtual terminals, ptys
        PortInfo p;
        p.name = name;
        if (!IsRealPort(name)) continue;
        p.driver = DriverOf(RealPath(device));
        if (auto it = links.find(name); it != links.end()) p.byId = it->second;
        // Up the device tree to the USB device, if there is one.
        for (std::string dir = RealPath(device); dir.size() > 1; dir = dir.substr(0, dir.rfind('/'))) {
            if (stat((dir + "/idVendor").c_str(), &st) == 0) {
                p.vendorId = ReadLine(dir + "/idVendor");
                p.productId = ReadLine(dir + "/idProduct");
                p.manufacturer = ReadLine(dir + "/manufacturer");
                p.product = ReadLine(dir + "/product");
                p.serial = ReadLine(dir + "/serial");
                break;
            }
        }
        ports.push_back(p);
    }
    return ports;
}

}  // namespace

int RunPorts(const CommonOptions& common) {
    const std::vector<PortInfo> ports = SerialPorts();
    for (const PortInfo& p : ports) {
        if (common.json) {
            nlohmann::json j{{"port", "/dev/" + p.name}, {"driver", p.driver}};
            j["by_id"] = p.byId.empty() ? nlohmann::json(nullptr) : nlohmann::json(p.byId);
            if (!p.vendorId.empty()) {
                j["usb"] = {{"vendor", p.vendorId}, {"product", p.productId}, {"manufacturer", p.manufacturer},
                            {"name", p.product}, {"serial", p.serial}};
            }
            EmitJson("port", j);
            continue;
        }
        std::printf("/dev/%s  driver %s", p.name.c_str(), p.driver.empty() ? "-" : p.driver.c_str());
        if (!p.vendorId.empty()) {
            std::printf("  USB %s:%s %s %s", p.vendorId.c_str(), p.productId.c_str(), p.manufacturer.c_str(),
                        p.product.c_str());
        }
        std::printf("\n");
        if (!p.byId.empty()) std::printf("    %s\n", p.byId.c_str());
    }
    if (!common.json && ports.empty()) std::printf("no serial ports found\n");
    std::fflush(stdout);
    if (!common.json) std::fprintf(stderr, "%zu serial port(s)\n", ports.size());
    return kExitOk;
}

}  // namespace vorlan_host
