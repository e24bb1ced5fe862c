// SPDX-License-Identifier: Apache-2.0
#pragma once
// The hidden temporary files a recording is written to before it is renamed
// into place: ".<final name>.tmp-<process id>-<n>", where the final name is a
// list-time text followed by ".CFG" or ".DAT".

#include <string>

namespace vorlan {

// A fresh temporary name beside `finalName` for this process.
std::string TempFileName(const std::string& finalName);

// Whether `name` is one of our temporary files that no live writer owns: its
// process is gone, or it is this process, whose writers are all held by the
// caller. Anything not of exactly our pattern is never ours.
bool IsLeftoverTempFile(const std::string& name);

// Removes the leftovers of crashed writers from `directory` (ending in '/').
// The caller must keep every writer of this process out meanwhile.
void RemoveLeftoverTempFiles(const std::string& directory);

}  // namespace vorlan
