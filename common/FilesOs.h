#pragma once
// The OS calls behind common/Files.h, one file per OS (FilesPosix.cpp, FilesWin32.cpp),
// chosen by the build. Only the Files*.cpp files include this header.
#include <cstdio>
#include <string>

namespace edog::files_os {

// Creates a fresh directory "<base>/tmp..." without a race: the creation itself is the
// test of the name. Empty string on failure.
std::string MakeFreshDirectory(const std::string& base);

// fopen for our byte-string paths (on Windows through UTF-16, so that names outside the
// system code page open too).
FILE* OpenFile(const std::string& path, const char* mode);

}  // namespace edog::files_os
