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

bool Trusted(PSID sid, const std::vector<BYTE>& me) {
  return EqualSid(sid, const_cast<BYTE*>(me.data())) ||
         IsWellKnown(sid, WinBuiltinAdministratorsSid) || IsWellKnown(sid, WinLocalSystemSid);
}

// An account this machine knows: a SID from another machine (a drive formatted there, a
// folder unpacked from an archive made there) names no one who could log on here.
bool KnownAccount(PSID sid) {
  wchar_t name[256], domain[256];
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  return LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use) != FALSE;
}

// The rights that let their holder replace what `path` holds: for a folder, removing or
// renaming its entries or the folder itself; for a file, writing or removing it. Either way
// also changing who may do so (the ACL, the owner).
DWORD ReplaceRights(bool folder) {
  const DWORD both = DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
  return folder ? both | FILE_DELETE_CHILD : both | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE;
}

// Someone besides you, the Administrators and SYSTEM who may replace what `path` holds:
// an allow entry of its ACL granting such a right to another account this machine knows, or
// the owner being such an account (an owner may always change the ACL, unless an OWNER
// RIGHTS entry says what the owner may do). Empty when there is no one, or nothing is known.
std::string OtherWriter(PSID owner, PACL dacl, bool folder, const std::vector<BYTE>& me) {
  if (!dacl) return "everyone (it has no access list)";
  const DWORD rights = ReplaceRights(folder);
  bool ownerRightsListed = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // for what is made inside, not this
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = &allowed->SidStart;
    if (IsWellKnown(sid, WinCreatorOwnerRightsSid)) {
      ownerRightsListed = true;
      sid = owner;
      if (!sid) continue;
    }
    if (!(allowed->Mask & rights) || IsWellKnown(sid, WinCreatorOwnerSid) || Trusted(sid, me) ||
        !KnownAccount(sid))
      continue;
    return AccountName(sid);
  }
  if (owner && !ownerRightsListed && !Trusted(owner, me) && KnownAccount(owner))
    return "its owner " + AccountName(owner);
  return {};
}

// Without `byWhoMayWrite`, as the temp folder always was: only the owner is checked (one
// owned by anyone but this user, the Administrators or SYSTEM is refused). With it, the ACL
// decides who may replace what is there. A path whose security cannot be read (a FAT drive,
// a share) passes, as before.
std::string Problem(const std::string& path, const TrustWords& w, const TrustRule& rule,
                    bool folder) {
  const std::filesystem::path p = FsPath(path);
  if (p.empty()) return {};
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const SECURITY_INFORMATION wanted =
      OWNER_SECURITY_INFORMATION | (rule.byWhoMayWrite ? DACL_SECURITY_INFORMATION : 0);
  if (GetNamedSecurityInfoW(p.c_str(), SE_FILE_OBJECT, wanted, &owner, nullptr,
                            rule.byWhoMayWrite ? &dacl : nullptr, nullptr,
                            &descriptor) != ERROR_SUCCESS)
    return {};
  const std::unique_ptr<void, LocalFreer> freeDescriptor(descriptor);
  if (owner && !IsValidSid(owner)) owner = nullptr;
  std::vector<BYTE> me = ProcessUserSid();
  if (me.empty()) return {};
  if (rule.byWhoMayWrite) {
    const std::string writer = OtherWriter(owner, dacl, folder, me);
    if (writer.empty()) return {};
    return w.what + " " + path +
           (folder ? " lets " + writer + " replace what is in it"
                   : " may be changed by " + writer) +
           ", not only you (" + AccountName(me.data()) +
           "), the Administrators or SYSTEM; they could " + w.harm + "; " + w.fix +
           ", or take that right away (Properties, Security of " + path + ")";
  }
  if (!owner) return {};
  if (Trusted(owner, me)) return {};
  return w.what + " " + path + " belongs to " + AccountName(owner) + ", not to you (" +
         AccountName(me.data()) + "), the Administrators or SYSTEM, who could " + w.harm + "; " +
         w.fix;
}

}  // namespace

std::string FolderProblem(const std::string& path, const TrustWords& w, const TrustRule& rule) {
  return Problem(path, w, rule, true);
}

std::string FileProblem(const std::string& file, const TrustWords& w, const TrustRule& rule) {
  return Problem(file, w, rule, false);
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
