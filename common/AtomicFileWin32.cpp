#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cerrno>

#include "common/AtomicFileOs.h"

namespace edog::atomic_os {

unsigned long ProcessId() { return static_cast<unsigned long>(_getpid()); }

int TargetRefusal(const std::string& target) {
  struct _stat64 st {};
  if (_stat64(target.c_str(), &st) != 0 || (st.st_mode & _S_IFREG)) return 0;
  return (st.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : EINVAL;
}

FILE* CreateExclusive(const std::string& name) {
  const int fd = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, 0666);
  if (fd < 0) return nullptr;
  FILE* f = _fdopen(fd, "wb");
  if (!f) {
    const int err = errno;
    _close(fd);
    std::remove(name.c_str());
    errno = err;
    return nullptr;
  }
  return f;
}

bool ReplaceWith(const std::string& from, const std::string& to) {
  // rename() does not replace an existing file here.
  std::remove(to.c_str());
  errno = 0;
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace edog::atomic_os
