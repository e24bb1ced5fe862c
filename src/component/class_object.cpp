// SPDX-License-Identifier: Apache-2.0
#include "component/class_object.h"

#include <atomic>

#include "component/component.h"
#include "component/guid.h"
#include "component/library_lock.h"

namespace vorlan {

namespace {

constexpr int32_t kOutOfMemory = static_cast<int32_t>(0x8007000Eu);

// Starts at 1: the library's own reference.
std::atomic<uint32_t> classObjectRefs{1};

int32_t QueryInterface(IVorlanClassFactory* self, const VorlanGuid* iid, void** out) {
    if (out == nullptr) return VORLAN_E_POINTER;
    *out = nullptr;
    if (iid == nullptr) return VORLAN_E_POINTER;
    if (!SameGuid(*iid, IID_IUnknown) && !SameGuid(*iid, IID_IClassFactory)) {
        return VORLAN_E_NOINTERFACE;
    }
    classObjectRefs.fetch_add(1);
    *out = self;
    return VORLAN_S_OK;
}

uint32_t AddRef(IVorlanClassFactory*) { return classObjectRefs.fetch_add(1) + 1; }

uint32_t Release(IVorlanClassFactory*) {
    uint32_t refs = classObjectRefs.load();
    while (refs > 1 && !classObjectRefs.compare_exchange_weak(refs, refs - 1)) {
    }
    return refs > 1 ? refs - 1 : 1;
}

int32_t CreateInstance(IVorlanClassFactory*, void* outer, const VorlanGuid* iid, void** out) {
    if (out == nullptr) return VORLAN_E_POINTER;
    *out = nullptr;
    if (iid == nullptr) return VORLAN_E_POINTER;
    if (outer != nullptr) return VORLAN_CLASS_E_NOAGGREGATION;
    RelayPro* component = RelayPro::Create();
    if (component == nullptr) return kOutOfMemory;
    const int32_t result = component->QueryInterface(iid, out);
    component->Release();  // the creation reference; destroys it when the lookup failed
    return result;
}

int32_t LockServerSlot(IVorlanClassFactory*, int32_t lock) {
    LockServer(lock != 0);
    return VORLAN_S_OK;
}

const IVorlanClassFactoryVtbl kClassObjectTable = {
    QueryInterface, AddRef, Release, CreateInstance, LockServerSlot,
};

IVorlanClassFactory classObject{&kClassObjectTable};

}  // namespace

IVorlanClassFactory* RelayProClassObject() { return &classObject; }

}  // namespace vorlan
