#pragma once
// The OS calls behind common/DynamicLibrary.h, one file per OS (DynamicLibraryPosix.cpp,
// DynamicLibraryWin32.cpp), chosen by the build. Only the DynamicLibrary*.cpp files
// include this header.
#include <string>

namespace edog::dl_os {

void* OpenLibrary(const std::string& path);  // null when it cannot be loaded
void CloseLibrary(void* handle);
void* LibrarySymbol(void* handle, const char* name);
// Full path of the running program; empty when it cannot be told.
std::string ExecutablePath();
// Where an installed program's plug-ins lie, from its folder (ending with a separator);
// empty where plug-ins sit only beside the program (Windows).
std::string InstalledPluginFolder(const std::string& programFolder);

}  // namespace edog::dl_os
