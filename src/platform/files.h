// SPDX-License-Identifier: Apache-2.0
#pragma once
// Whole files: read one with a size bound, write one so that readers see the
// old content or the new, never a half-written file, and flush to disk.

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace vorlan {

enum class ReadOutcome {
    Read,     // the whole file is in `content`
    Missing,  // no such file; `content` is empty
    TooLong,  // `content` holds its first `limit` bytes
    Failed,   // it exists but can't be read
};

ReadOutcome ReadWholeFile(const std::string& path, size_t limit, std::string& content);

// Writes all of `content` to `fd`, retrying interrupted writes.
bool WriteAll(int fd, const std::string& content);

// Creates `path` (which must not exist), writes `content` and flushes it to
// disk; on any failure nothing is left at `path`.
bool WriteNewFileSynced(const std::string& path, const std::string& content);

// Writes `content` beside `path` and renames it over `path`, keeping the old
// file's permissions (else `mode`), flushed to disk with its directory.
bool ReplaceFileSynced(const std::string& path, const std::string& content, mode_t mode);

// Flushes a directory's entries, so renames in it survive a power cut.
bool SyncDirectory(const std::string& directory);

}  // namespace vorlan
