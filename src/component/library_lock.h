// SPDX-License-Identifier: Apache-2.0
#pragma once
// Counts what keeps the library loaded: living components and the host's
// LockServer locks. DllCanUnloadNow answers from it.

#include <cstdint>

namespace vorlan {

void LockLibrary();
void UnlockLibrary();
// LockServer(0) without a matching LockServer(1) changes nothing.
void LockServer(bool lock);
bool LibraryInUse();

}  // namespace vorlan
