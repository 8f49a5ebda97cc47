#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/Files.h"
#include "common/FsPath.h"
#include "common/TempFolderOs.h"

namespace edog::temp_os {

// GetTempPath would hand back the unusable TMP itself: TEMP, then the user's and the
// system's own temp folders.
std::string SystemTempFolder() {
  // Read wide: a user name outside the ANSI code page is in these paths.
  if (const auto temp = EnvironmentValue("TEMP"); temp && !temp->empty() && DirectoryExists(*temp))
    return *temp;
  for (const char* base : {"LOCALAPPDATA", "SystemRoot"}) {
    if (const auto root = EnvironmentValue(base); root && !root->empty()) {
      const std::string dir = JoinPath(*root, "Temp");
      if (DirectoryExists(dir)) return dir;
    }
  }
  return {};
}

namespace {

struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};

// The user this process runs as; empty when the token cannot be read.
std::vector<BYTE> ProcessUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  const bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  CloseHandle(token);
  if (!ok) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  std::vector<BYTE> copy(GetLengthSid(sid));
  CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid);
  return copy;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != FALSE; }

// "DOMAIN\name (S-1-5-...)", or the SID alone when it names no account.
std::string AccountName(PSID sid) {
  std::string text;
  wchar_t name[256], domain[256];
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    const std::wstring account = domainSize ? std::wstring(domain) + L"\\" + name : std::wstring(name);
    text = std::filesystem::path(account).u8string() + " ";
  }
  wchar_t* sidText = nullptr;
  if (ConvertSidToStringSidW(sid, &sidText)) {
    const std::unique_ptr<wchar_t, LocalFreer> freeIt(sidText);
    text += "(" + std::filesystem::path(sidText).u8string() + ")";
  }
  return text.empty() ? "an unknown account" : text;
}

}  // namespace

// Only the owner is checked: the owner may always change the folder's (or file's) ACL, so
// one owned by anyone but this user, the Administrators or SYSTEM is another user's to swap
// files in. The ACL itself (a grant of write to Everyone) is not looked at. A path whose
// owner cannot be read (a FAT drive, a share) passes, as before.
std::string FolderProblem(const std::string& path, const TrustWords& w) {
  const std::filesystem::path p = FsPath(path);
  if (p.empty()) return {};
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(p.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return {};
  const std::unique_ptr<void, LocalFreer> freeDescriptor(descriptor);
  if (!owner || !IsValidSid(owner)) return {};
  std::vector<BYTE> me = ProcessUserSid();
  if (me.empty()) return {};
  if (EqualSid(owner, me.data()) || IsWellKnown(owner, WinBuiltinAdministratorsSid) ||
      IsWellKnown(owner, WinLocalSystemSid))
    return {};
  return w.what + " " + path + " belongs to " + AccountName(owner) + ", not to you (" +
         AccountName(me.data()) + "), the Administrators or SYSTEM, who could " + w.harm + "; " +
         w.fix;
}

std::string FileProblem(const std::string& file, const TrustWords& w) {
  return FolderProblem(file, w);
}

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
