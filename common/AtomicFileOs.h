#pragma once
// The OS calls behind common/AtomicFile.h, one file per OS (AtomicFilePosix.cpp,
// AtomicFileWin32.cpp), chosen by the build. Only the AtomicFile*.cpp files include this.
#include <cstdint>
#include <cstdio>
#include <string>

namespace edog::atomic_os {

unsigned long ProcessId();
// 0 when nothing stands at `target` or a file the rename may replace (a regular file, or
// a link here); else EISDIR for a folder and EINVAL for anything else.
int TargetRefusal(const std::string& target);
// Creates `name`, which must not exist yet, and opens it for binary writing (and reading,
// for DuplicateForReading); null with errno set on failure (EEXIST: the name is taken).
// The file may be renamed while open. It gets the permissions of the regular file at
// `target` when one stands there, so that replacing a private file keeps it private.
FILE* CreateExclusive(const std::string& name, const std::string& target);
// A second handle on the file behind a stream made by CreateExclusive, for reading it
// after the stream is closed; -1 with errno set on failure.
intptr_t DuplicateForReading(FILE* file);
// Renames `from` over `to`; false with errno set on failure. Where the OS keeps a file's
// access rules apart from its mode (Windows ACLs), the file replaced at `to` hands them on.
bool ReplaceWith(const std::string& from, const std::string& to);
// Removes the temporary file `name` (made by CreateExclusive) again.
void RemoveTemporary(const std::string& name);

}  // namespace edog::atomic_os
