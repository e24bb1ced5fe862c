// SPDX-License-Identifier: Apache-2.0
#include "driver_library.h"

#include <dlfcn.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vorlan_host {

namespace {

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string Hex32(int32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

}  // namespace

DriverLibrary::~DriverLibrary() {
    // The library stays loaded: a host never unloads a driver whose objects
    // may still be referenced, and DllCanUnloadNow decides that, not us.
}

std::string DriverLibrary::RegistryPath() {
    if (const char* p = std::getenv("VORLAN_REGISTRY"); p && *p) return p;
    if (const char* c = std::getenv("XDG_CONFIG_HOME"); c && *c) return std::string(c) + "/vorlan/registry.ini";
    if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.config/vorlan/registry.ini";
    return {};
}

std::string DriverLibrary::LookUp(const std::string& progid, std::string& libraryPath) {
    const std::string file = RegistryPath();
    if (file.empty()) return "no registration file: set VORLAN_REGISTRY or HOME";
    std::ifstream in(file);
    if (!in) return "the registration file " + file + " can't be read; register the driver first (--register)";
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        const std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t.front() == '[' && t.back() == ']') {
            inSection = SameText(Trim(t.substr(1, t.size() - 2)), progid);
            continue;
        }
        const size_t eq = t.find('=');
        if (inSection && eq != std::string::npos && SameText(Trim(t.substr(0, eq)), "InprocServer")) {
            libraryPath = Trim(t.substr(eq + 1));
            if (!libraryPath.empty()) return {};
        }
    }
    return "\"" + progid + "\" is not registered in " + file + "; register the driver first (--register)";
}

std::string DriverLibrary::Load(const std::string& libraryPath) {
    handle_ = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* e = dlerror();
        return "can't load the driver library " + libraryPath + ": " + (e ? e : "unknown error");
    }
    path_ = libraryPath;
    getClassObject_ = reinterpret_cast<decltype(getClassObject_)>(dlsym(handle_, "DllGetClassObject"));
    registerServer_ = reinterpret_cast<decltype(registerServer_)>(dlsym(handle_, "DllRegisterServer"));
    atomName_ = reinterpret_cast<decltype(atomName_)>(dlsym(handle_, "VorlanGetAtomName"));
    // The whole record where the library has it, else the fields up to lastAnswer.
    void* wholeStats = dlsym(handle_, "VorlanGetRelayStats2");
    relayStats_ = reinterpret_cast<decltype(relayStats_)>(wholeStats ? wholeStats : dlsym(handle_, "VorlanGetRelayStats"));
    lastError_ = reinterpret_cast<decltype(lastError_)>(dlsym(handle_, "VorlanGetLastError"));
    if (!getClassObject_) return libraryPath + " is not a driver library: DllGetClassObject is missing";
    return {};
}

std::string DriverLibrary::Register() {
    if (!registerServer_) return path_ + " has no DllRegisterServer";
    const int32_t r = registerServer_();
    if (r != VORLAN_S_OK) {
        return "DllRegisterServer failed (" + Hex32(r) + "); is " + RegistryPath() + " writable?";
    }
    return {};
}

std::string DriverLibrary::CreateComponent(IDeviceDriver** driver, IDeviceDriverControl** control) {
    *driver = nullptr;
    *control = nullptr;
    IVorlanClassFactory* factory = nullptr;
    int32_t r = getClassObject_(&CLSID_VorlanRelayPro, &IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (r != VORLAN_S_OK || !factory) return "the library has no class object for " VORLAN_PROGID " (" + Hex32(r) + ")";
    r = factory->lpVtbl->CreateInstance(factory, nullptr, &IID_IDeviceDriver, reinterpret_cast<void**>(driver));
    factory->lpVtbl->Release(factory);
    if (r != VORLAN_S_OK || !*driver) return "creating the component failed (" + Hex32(r) + ")";
    r = (*driver)->lpVtbl->QueryInterface(*driver, &IID_IDeviceDriverControl, reinterpret_cast<void**>(control));
    if (r != VORLAN_S_OK || !*control) {
        (*driver)->lpVtbl->Release(*driver);
        *driver = nullptr;
        return "the component has no IDeviceDriverControl (" + Hex32(r) + ")";
    }
    return {};
}

std::string DriverLibrary::AtomText(uint16_t atom) const {
    if (!atomName_ || atom == 0) return {};
    char text[256] = {};
    const uint32_t n = atomName_(atom, text, sizeof text);
    return std::string(text, n < sizeof text ? n : sizeof text - 1);
}

bool DriverLibrary::RelayStats(IDeviceDriver* driver, int32_t deviceIndex, VorlanRelayStats& out) const {
    out = VorlanRelayStats{};
    return relayStats_ && driver && relayStats_(driver, deviceIndex, &out) == 1;
}

std::string DriverLibrary::LastOpenError(IDeviceDriver* driver) const {
    if (!lastError_ || !driver) return {};
    const uint32_t length = lastError_(driver, nullptr, 0);
    if (length == 0) return {};
    std::string text(length + 1, '\0');
    const uint32_t again = lastError_(driver, text.data(), static_cast<uint32_t>(text.size()));
    text.resize(again < length ? again : length);
    return text;
}

}  // namespace vorlan_host
