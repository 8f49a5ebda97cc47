#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cerrno>

#include "common/AtomicFileOs.h"
#include "common/FsPath.h"

namespace edog::atomic_os {

// Our names are UTF-8: the wide calls keep names outside the ANSI code page.
namespace {
std::wstring Wide(const std::string& path) { return FsPath(path).wstring(); }
}  // namespace

unsigned long ProcessId() { return static_cast<unsigned long>(_getpid()); }

int TargetRefusal(const std::string& target) {
  struct _stat64 st {};
  if (_wstat64(Wide(target).c_str(), &st) != 0 || (st.st_mode & _S_IFREG)) return 0;
  return (st.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : EINVAL;
}

FILE* CreateExclusive(const std::string& name) {
  const int fd = _wopen(Wide(name).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, 0666);
  if (fd < 0) return nullptr;
  FILE* f = _fdopen(fd, "wb");
  if (!f) {
    const int err = errno;
    _close(fd);
    _wremove(Wide(name).c_str());
    errno = err;
    return nullptr;
  }
  return f;
}

bool ReplaceWith(const std::string& from, const std::string& to) {
  errno = 0;
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
}

void RemoveTemporary(const std::string& name) { _wremove(Wide(name).c_str()); }

}  // namespace edog::atomic_os
