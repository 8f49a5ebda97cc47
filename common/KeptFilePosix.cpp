#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/KeptFile.h"

namespace edog {

KeptFile KeptFile::OpenRegular(const std::string& path, RegularOpen* why) {
  RegularOpen r;
  // Non-blocking, so that opening a FIFO without a writer does not wait for one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd < 0) {
    r.error = errno;
  } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    r.status = RegularOpen::kNotRegular;
    ::close(fd);
  } else {
    r.status = RegularOpen::kOk;
  }
  if (why) *why = r;
  return r.status == RegularOpen::kOk ? KeptFile(fd, path) : KeptFile();
}

std::optional<uint64_t> KeptFile::Size() const {
  struct stat st {};
  if (!IsOpen() || ::fstat(static_cast<int>(handle_), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

size_t KeptFile::ReadAt(uint64_t offset, void* data, size_t size) const {
  if (!IsOpen()) {
    errno = EBADF;
    return 0;
  }
  for (;;) {
    // pread: the descriptor's own position stays, so readers never disturb each other.
    const ssize_t n = ::pread(static_cast<int>(handle_), data, size, static_cast<off_t>(offset));
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return 0;
  }
}

KeptFile KeptFile::Duplicate() const {
  if (!IsOpen()) return KeptFile();
  const int fd = ::fcntl(static_cast<int>(handle_), F_DUPFD_CLOEXEC, 0);
  return fd < 0 ? KeptFile() : KeptFile(fd, path_);
}

void KeptFile::Close() {
  if (IsOpen()) ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

}  // namespace edog
