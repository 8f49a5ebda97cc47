#pragma once
// The OS calls behind common/AtomicFile.h, one file per OS (AtomicFilePosix.cpp,
// AtomicFileWin32.cpp), chosen by the build. Only the AtomicFile*.cpp files include this.
#include <cstdio>
#include <string>

namespace edog::atomic_os {

unsigned long ProcessId();
// 0 when nothing stands at `target` or a file the rename may replace (a regular file, or
// a link here); else EISDIR for a folder and EINVAL for anything else.
int TargetRefusal(const std::string& target);
// Creates `name`, which must not exist yet, and opens it for binary writing; null with
// errno set on failure (EEXIST: the name is taken).
FILE* CreateExclusive(const std::string& name);
// Renames `from` over `to`; false with errno set on failure.
bool ReplaceWith(const std::string& from, const std::string& to);
// Removes the temporary file `name` (made by CreateExclusive) again.
void RemoveTemporary(const std::string& name);

}  // namespace edog::atomic_os
