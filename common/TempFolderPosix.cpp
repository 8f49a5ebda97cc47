#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/Files.h"
#include "common/PrivateGroup.h"
#include "common/TempFolder.h"
#include "common/TempFolderOs.h"
#include "common/UniqueFd.h"

namespace edog::temp_os {
namespace {

std::string User(uid_t uid) { return "user " + std::to_string(static_cast<unsigned long>(uid)); }

std::string Mode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// The names in an open folder, without "." and "..".
std::vector<std::string> Names(int folderFd) {
  std::vector<std::string> names;
  const int fd = ::dup(folderFd);
  DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
  if (!dir) {
    if (fd >= 0) ::close(fd);
    return names;
  }
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

// A plain file of this user's, looked at where it stands (never through a link).
bool OwnPlainFile(int folderFd, const std::string& name) {
  struct stat st {};
  return ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
         st.st_uid == ::getuid();
}

std::string ReadMark(int folderFd) {
  const UniqueFd fd(
      ::openat(folderFd, kOwnerMarkName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!fd.IsValid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_uid != ::getuid() || st.st_size > 256)
    return {};
  char text[257] = {};
  const ssize_t n = ::read(fd.Get(), text, 256);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

}  // namespace

std::string SystemTempFolder() {
  const std::optional<std::string> dir = EnvironmentValue("TMPDIR");
  if (dir && !dir->empty() && (*dir)[0] == '/' && DirectoryExists(*dir)) return *dir;
  return DirectoryExists(P_tmpdir) ? P_tmpdir : "/tmp";
}

namespace {

// "<what> PATH belongs to user N, not to you (user M) or root, who could <harm>; <fix>",
// or empty for a path of yours or root's.
std::string OwnerProblem(const std::string& path, const struct stat& st, const TrustWords& w) {
  const uid_t me = ::getuid();
  if (st.st_uid == me || st.st_uid == 0) return {};
  return w.what + " " + path + " belongs to " + User(st.st_uid) + ", not to you (" + User(me) +
         ") or root, who could " + w.harm + "; " + w.fix;
}

// Who besides you (and root) may write to what `st` describes, for the refusal's words;
// empty when no one may. A group write permission is harmless under `byWhoMayWrite` when
// the group is your user-private group: no one but you is in it.
std::string OtherWriters(const struct stat& st, const TrustRule& rule) {
  if (st.st_mode & S_IWOTH) return "others";
  if (!(st.st_mode & S_IWGRP)) return {};
  if (edog::IsOwnPrivateGroup(st.st_gid, rule.groups)) return {};
  const std::optional<GroupEntry> group =
      rule.groups ? rule.groups(st.st_gid) : edog::SystemGroup(st.st_gid);
  const std::string name =
      group && !group->name.empty() ? group->name
                                    : std::to_string(static_cast<unsigned long>(st.st_gid));
  return "group " + name + ", which is not your own private group";
}

// What the user can do about a place of his own that others may write to.
std::string TakeAwayWrite(const std::string& path, const struct stat& st, const TrustRule& rule) {
  if (!rule.byWhoMayWrite || st.st_uid != ::getuid()) return {};
  return ", or take their write permission away (chmod go-w " + path + ")";
}

}  // namespace

std::string FolderProblem(const std::string& folder, const TrustWords& w, const TrustRule& rule) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  if (std::string why = OwnerProblem(folder, st, w); !why.empty()) return why;
  if (st.st_mode & S_ISVTX) return {};
  const std::string writers = OtherWriters(st, rule);
  if (writers.empty()) return {};
  const std::string remedy = TakeAwayWrite(folder, st, rule);
  return w.what + " " + folder + " lets other users rename what is in it (mode " +
         Mode(st.st_mode) + ": writable by " + writers + (writers == "others" ? "" : ",") +
         " and not sticky), so they could " +
         w.harm + "; " + w.fix +
         (remedy.empty() ? ", or make it sticky (chmod +t " + folder + ")" : remedy);
}

std::string FileProblem(const std::string& file, const TrustWords& w, const TrustRule& rule) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return {};
  if (std::string why = OwnerProblem(file, st, w); !why.empty()) return why;
  const std::string writers = OtherWriters(st, rule);
  if (writers.empty()) return {};
  return w.what + " " + file + " may be changed by other users (mode " + Mode(st.st_mode) +
         (writers == "others" ? "" : ": writable by " + writers) + "), who could " + w.harm +
         "; " + w.fix + TakeAwayWrite(file, st, rule);
}

long ProcessId() { return static_cast<long>(::getpid()); }

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "?";
  return name;
}

bool ProcessRuns(long pid) {
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

int RemoveAbandoned(const std::string& base, bool (*isAbandoned)(const std::string& mark)) {
  const UniqueFd baseFd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!baseFd.IsValid()) return 0;
  int removed = 0;
  for (const std::string& name : Names(baseFd.Get())) {
    // Only the names mkdtemp gives, only real folders of this user's.
    if (name.size() != 9 || name.compare(0, 3, "tmp") != 0) continue;
    struct stat st {};
    if (::fstatat(baseFd.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
      continue;
    const UniqueFd dirFd(
        ::openat(baseFd.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat opened {};
    if (!dirFd.IsValid() || ::fstat(dirFd.Get(), &opened) != 0 || opened.st_ino != st.st_ino ||
        opened.st_dev != st.st_dev)
      continue;
    if (!isAbandoned(ReadMark(dirFd.Get()))) continue;
    const std::vector<std::string> names = Names(dirFd.Get());
    bool plain = true;
    for (const std::string& n : names) plain = plain && OwnPlainFile(dirFd.Get(), n);
    if (!plain) continue;
    // The mark goes last: a folder left half cleared is still known as ours.
    for (const std::string& n : names)
      if (n != kOwnerMarkName) ::unlinkat(dirFd.Get(), n.c_str(), 0);
    ::unlinkat(dirFd.Get(), kOwnerMarkName, 0);
    if (::unlinkat(baseFd.Get(), name.c_str(), AT_REMOVEDIR) == 0) ++removed;
  }
  return removed;
}

}  // namespace edog::temp_os
