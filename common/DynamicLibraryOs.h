#pragma once
// The OS calls behind common/DynamicLibrary.h, one file per OS (DynamicLibraryPosix.cpp,
// DynamicLibraryWin32.cpp), chosen by the build. Only the DynamicLibrary*.cpp files
// include this header.
#include <string>
#include <vector>

namespace edog::dl_os {

// Null when it cannot be loaded; `reason` then gets the system's word for why.
void* OpenLibrary(const std::string& path, std::string& reason);
void CloseLibrary(void* handle);
void* LibrarySymbol(void* handle, const char* name);
// Full path of the running program (UTF-8); empty when it cannot be told.
std::string ExecutablePath();
// Where a base name's file is looked for after the program's folder: full paths of
// folders (ending with a separator), or an empty string for the system's own search.
std::vector<std::string> SystemLibraryFolders();
// Where an installed program's plug-ins lie, from its folder (ending with a separator);
// empty where plug-ins sit only beside the program (Windows).
std::string InstalledPluginFolder(const std::string& programFolder);

}  // namespace edog::dl_os
