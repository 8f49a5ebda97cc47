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

// The access rules travel with the replaced file (ReplaceWith), not with the new one.
FILE* CreateExclusive(const std::string& name, const std::string&) {
  // Shared for deletion, so that the file can be renamed over its target while a handle
  // kept for reading it (DuplicateForReading) is still open.
  HANDLE h = CreateFileW(Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    switch (GetLastError()) {
      case ERROR_FILE_EXISTS:
      case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
      case ERROR_ACCESS_DENIED: errno = EACCES; break;
      case ERROR_PATH_NOT_FOUND:
      case ERROR_FILE_NOT_FOUND: errno = ENOENT; break;
      case ERROR_DISK_FULL:
      case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
      default: errno = EIO; break;
    }
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    _wremove(Wide(name).c_str());
    errno = EMFILE;
    return nullptr;
  }
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

intptr_t DuplicateForReading(FILE* file) {
  const HANDLE own = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (own == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, GENERIC_READ, FALSE, 0)) {
    errno = EIO;
    return -1;
  }
  return reinterpret_cast<intptr_t>(copy);
}

bool ReplaceWith(const std::string& from, const std::string& to) {
  errno = 0;
  // ReplaceFileW gives the new file the replaced one's ACL and attributes. It fails when
  // nothing stands at `to` (and where a file system or an open handle will not have it);
  // then the plain rename below does, as a new file's rules come from its folder anyway.
  // Every way it fails leaves `from` under its name and `to` as it was or gone.
  if (ReplaceFileW(Wide(to).c_str(), Wide(from).c_str(), nullptr,
                   REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                   nullptr))
    return true;
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
}

void RemoveTemporary(const std::string& name) { _wremove(Wide(name).c_str()); }

}  // namespace edog::atomic_os
