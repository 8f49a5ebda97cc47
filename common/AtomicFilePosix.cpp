#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/AtomicFileOs.h"
#include "common/UniqueFd.h"

namespace edog::atomic_os {

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

int TargetRefusal(const std::string& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return 0;
  return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
}

FILE* CreateExclusive(const std::string& name, const std::string& target) {
  // A replaced file's successor gets its permission bits, exactly (not as the umask cuts
  // them) and from the start, so a private output is never readable by others on the way.
  // A link at the target is replaced, not followed: the new file gets the usual mode.
  struct stat st {};
  const bool replacing = ::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  UniqueFd fd(::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : 0666));
  if (!fd.IsValid()) return nullptr;
  // Should this fail, the file stays 0600: private, never more open than intended.
  if (replacing) (void)::fchmod(fd.Get(), st.st_mode & 0777);
  FILE* f = fdopen(fd.Get(), "wb");
  if (!f) {
    const int err = errno;
    fd.Reset();
    std::remove(name.c_str());
    errno = err;
    return nullptr;
  }
  fd.Release();  // the stream owns it now
  return f;
}

intptr_t DuplicateForReading(FILE* file) {
  const int fd = ::fcntl(::fileno(file), F_DUPFD_CLOEXEC, 0);
  return fd < 0 ? -1 : fd;
}

bool ReplaceWith(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void RemoveTemporary(const std::string& name) { std::remove(name.c_str()); }

}  // namespace edog::atomic_os
