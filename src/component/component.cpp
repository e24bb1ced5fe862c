#include "component/component.h"

#include <cerrno>
#include <new>

#include "component/guid.h"
#include "component/library_lock.h"
#include "component/register_catalogue.h"

namespace vorlan {

namespace {

// The dispatch part has no members: every lookup and call is refused.
constexpr int32_t kDispBadIndex = static_cast<int32_t>(0x8002000Bu);
constexpr int32_t kDispUnknownName = static_cast<int32_t>(0x80020006u);
constexpr int32_t kDispMemberNotFound = static_cast<int32_t>(0x80020003u);
constexpr int32_t kDispIdUnknown = -1;

// No exception may unwind into the host's C frames: a slot that fails this
// way reports the slot's failure value instead.
template <typename Result, typename Fn>
Result Shielded(Result failure, Fn&& fn) {
    try {
        return fn();
    } catch (...) {
        return failure;
    }
}

// ---- IDeviceDriver ----

int32_t DriverQueryInterface(IDeviceDriver* self, const VorlanGuid* iid, void** out) {
    return RelayPro::Of(self).QueryInterface(iid, out);
}
uint32_t DriverAddRef(IDeviceDriver* self) { return RelayPro::Of(self).AddRef(); }
uint32_t DriverRelease(IDeviceDriver* self) { return RelayPro::Of(self).Release(); }

int32_t GetRegisterTable(IDeviceDriver*, intptr_t, const RegisterDef** table, int32_t* count) {
    int32_t entries = 0;
    const RegisterDef* first = CRelayDriverBase::GetRegisterTable(&entries);
    if (table != nullptr) *table = first;
    if (count != nullptr) *count = entries;
    return 1;
}

int32_t ProbeDevice(IDeviceDriver* self, intptr_t reserved, int32_t address, intptr_t reserved2) {
    return Shielded<int32_t>(0, [&] {
        return RelayPro::Of(self).Core().ProbeDevice(reserved, address, reserved2);
    });
}

int16_t CheckItem(IDeviceDriver* self, const ItemConfig* config, ItemRef* ref) {
    return Shielded<int16_t>(1, [&] {
        return RelayPro::Of(self).Core().CheckItem(config, ref, kRegisterCatalogue,
                                                   VORLAN_REG_COUNT);
    });
}

int32_t ReservedA6(IDeviceDriver*, intptr_t, intptr_t, intptr_t) { return 1; }

int32_t OpenChannel(IDeviceDriver* self, intptr_t, const ChannelConfig* config) {
    int error = ENOMEM;  // what an exception out of the opening can only be
    const int32_t opened =
        Shielded<int32_t>(0, [&] { return RelayPro::Of(self).OpenChannel(config, &error); });
    // Last, so that nothing on the way back changes it.
    if (opened == 0) errno = error != 0 ? error : EIO;
    return opened;
}

int32_t CloseChannel(IDeviceDriver* self) {
    Shielded<int32_t>(1, [&] { return RelayPro::Of(self).Core().CloseChannelLocked(); });
    return 1;
}

int32_t ReservedA9(IDeviceDriver*, intptr_t, intptr_t, intptr_t) { return 1; }

int32_t CanMerge(IDeviceDriver* self, const ItemRef* ref, int32_t direction, HostPacket* packet) {
    return RelayPro::Of(self).Core().CanMerge(ref, direction, packet);
}

int32_t ReadPacket(IDeviceDriver* self, HostPacket* packet) {
    return Shielded<int32_t>(0, [&] { return RelayPro::Of(self).Core().ProcessPacket(packet, 0); });
}

int32_t AddDevice(IDeviceDriver* self, const char* addressText, int32_t* address) {
    return Shielded<int32_t>(
        0, [&] { return RelayPro::Of(self).Core().AddDevice(addressText, address); });
}

const char* GetErrorText(IDeviceDriver* self) { return RelayPro::Of(self).Core().GetErrorText(); }

const IDeviceDriverVtbl kDriverTable = {
    DriverQueryInterface, DriverAddRef, DriverRelease, GetRegisterTable, ProbeDevice,
    CheckItem,            ReservedA6,   OpenChannel,   CloseChannel,     ReservedA9,
    CanMerge,             ReadPacket,   AddDevice,     GetErrorText,
};

// ---- IDeviceDriverControl ----

int32_t ControlQueryInterface(IDeviceDriverControl* self, const VorlanGuid* iid, void** out) {
    return RelayPro::Of(self).QueryInterface(iid, out);
}
uint32_t ControlAddRef(IDeviceDriverControl* self) { return RelayPro::Of(self).AddRef(); }
uint32_t ControlRelease(IDeviceDriverControl* self) { return RelayPro::Of(self).Release(); }

int32_t WritePacket(IDeviceDriverControl* self, HostPacket* packet) {
    return Shielded<int32_t>(0, [&] { return RelayPro::Of(self).Core().ProcessPacket(packet, 1); });
}

int32_t ReservedB4(IDeviceDriverControl*, intptr_t) { return 1; }
int32_t ReservedB5(IDeviceDriverControl*, intptr_t, intptr_t, intptr_t) { return 1; }
int32_t ReservedB6(IDeviceDriverControl*, intptr_t) { return 1; }

const IDeviceDriverControlVtbl kControlTable = {
    ControlQueryInterface, ControlAddRef, ControlRelease, WritePacket,
    ReservedB4,            ReservedB5,    ReservedB6,
};

// ---- Dispatch part ----

int32_t DispatchQueryInterface(IVorlanDispatch* self, const VorlanGuid* iid, void** out) {
    return RelayPro::Of(self).QueryInterface(iid, out);
}
uint32_t DispatchAddRef(IVorlanDispatch* self) { return RelayPro::Of(self).AddRef(); }
uint32_t DispatchRelease(IVorlanDispatch* self) { return RelayPro::Of(self).Release(); }

int32_t GetTypeInfoCount(IVorlanDispatch*, uint32_t* count) {
    if (count == nullptr) return VORLAN_E_POINTER;
    *count = 0;
    return VORLAN_S_OK;
}

int32_t GetTypeInfo(IVorlanDispatch*, uint32_t, uint32_t, void** out) {
    if (out != nullptr) *out = nullptr;
    return kDispBadIndex;
}

int32_t GetIDsOfNames(IVorlanDispatch*, const VorlanGuid*, void*, uint32_t count, uint32_t,
                      int32_t* ids) {
    if (ids != nullptr) {
        for (uint32_t i = 0; i < count; ++i) ids[i] = kDispIdUnknown;
    }
    return kDispUnknownName;
}

int32_t Invoke(IVorlanDispatch*, int32_t, const VorlanGuid*, uint32_t, uint16_t, void*, void*,
               void*, uint32_t*) {
    return kDispMemberNotFound;
}

const IVorlanDispatchVtbl kDispatchTable = {
    DispatchQueryInterface, DispatchAddRef, DispatchRelease, GetTypeInfoCount,
    GetTypeInfo,            GetIDsOfNames,  Invoke,
};

}  // namespace

RelayPro* RelayPro::Create() {
    try {
        return new RelayPro();
    } catch (...) {
        return nullptr;
    }
}

RelayPro::RelayPro()
    : core_(std::make_unique<CRelayDriver>()),
      driverPart_{{&kDriverTable}, this},
      controlPart_{{&kControlTable}, this},
      dispatchPart_{{&kDispatchTable}, this} {
    LockLibrary();
}

RelayPro::~RelayPro() {
    core_->CloseChannelLocked();
    core_.reset();
    UnlockLibrary();
}

int32_t RelayPro::QueryInterface(const VorlanGuid* iid, void** out) {
    if (out == nullptr) return VORLAN_E_POINTER;
    *out = nullptr;
    if (iid == nullptr) return VORLAN_E_POINTER;
    if (SameGuid(*iid, IID_IUnknown) || SameGuid(*iid, IID_IDeviceDriver)) {
        *out = &driverPart_.face;
    } else if (SameGuid(*iid, IID_IDeviceDriverControl)) {
        *out = &controlPart_.face;
    } else if (SameGuid(*iid, DIID_VorlanRelayPro) || SameGuid(*iid, IID_IDispatch)) {
        *out = &dispatchPart_.face;
    } else {
        return VORLAN_E_NOINTERFACE;
    }
    AddRef();
    return VORLAN_S_OK;
}

uint32_t RelayPro::AddRef() { return refs_.fetch_add(1) + 1; }

uint32_t RelayPro::Release() {
    const uint32_t left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
}

int32_t RelayPro::OpenChannel(const ChannelConfig* config, int* error) {
    return core_->OpenChannelLocked(config, error);
}

}  // namespace vorlan
