#pragma once
// The OS calls behind common/TempFolder.h, one file per OS (TempFolderPosix.cpp,
// TempFolderWin32.cpp), chosen by the build. Only the TempFolder*.cpp files include it.
#include <string>

#include "common/TempFolder.h"

namespace edog::temp_os {

// The system's temp folder when $TMP cannot be used; empty when there is none.
std::string SystemTempFolder();
// See FolderTrustProblem and FileTrustProblem.
std::string FolderProblem(const std::string& folder, const TrustWords& words, const TrustRule& rule);
std::string FileProblem(const std::string& file, const TrustWords& words, const TrustRule& rule);
// This process's id, and whether a process with that id still runs on this machine.
long ProcessId();
// The machine's name, so that a mark from another machine sharing the folder is left.
std::string HostName();
// See RemoveAbandonedTempFolders; `isAbandoned` reads a mark's text.
int RemoveAbandoned(const std::string& base, bool (*isAbandoned)(const std::string& mark));
bool ProcessRuns(long pid);

}  // namespace edog::temp_os
