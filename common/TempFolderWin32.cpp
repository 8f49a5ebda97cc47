#include <windows.h>

#include <cstdlib>
#include <string>

#include "common/Files.h"
#include "common/TempFolderOs.h"

namespace edog::temp_os {

// GetTempPath would hand back the unusable TMP itself: TEMP, then the user's and the
// system's own temp folders.
std::string SystemTempFolder() {
  if (const char* temp = std::getenv("TEMP"); temp && *temp && DirectoryExists(temp)) return temp;
  if (const char* local = std::getenv("LOCALAPPDATA"); local && *local) {
    const std::string dir = JoinPath(local, "Temp");
    if (DirectoryExists(dir)) return dir;
  }
  if (const char* root = std::getenv("SystemRoot"); root && *root) {
    const std::string dir = JoinPath(root, "Temp");
    if (DirectoryExists(dir)) return dir;
  }
  return {};
}

// Folder permissions are ACLs there, and a user's temp folder is his own.
std::string FolderProblem(const std::string&) { return {}; }

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string("?");
}

bool ProcessRuns(long pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

// Left for the user: a folder cannot be removed while another process holds a file in it,
// and a killed process here is rare.
int RemoveAbandoned(const std::string&, bool (*)(const std::string&)) { return 0; }

}  // namespace edog::temp_os
