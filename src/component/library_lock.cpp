// SPDX-License-Identifier: Apache-2.0
#include "component/library_lock.h"

#include <atomic>

namespace vorlan {

namespace {
std::atomic<int32_t> components{0};
std::atomic<int32_t> serverLocks{0};
}  // namespace

void LockLibrary() { components.fetch_add(1); }

void UnlockLibrary() { components.fetch_sub(1); }

void LockServer(bool lock) {
    if (lock) {
        serverLocks.fetch_add(1);
        return;
    }
    int32_t held = serverLocks.load();
    while (held > 0 && !serverLocks.compare_exchange_weak(held, held - 1)) {
    }
}

bool LibraryInUse() { return components.load() > 0 || serverLocks.load() > 0; }

}  // namespace vorlan
