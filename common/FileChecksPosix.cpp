#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/FileChecks.h"
#include "common/Files.h"
#include "common/UniqueFd.h"

namespace edog {

RegularOpen OpenRegularFile(const std::string& path, StdFile& file) {
  RegularOpen r;
  // Non-blocking, so that opening a FIFO without a writer does not wait for one.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsValid()) {
    r.error = errno;
    return r;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    r.status = RegularOpen::kNotRegular;
    return r;
  }
  ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  FILE* f = ::fdopen(fd.Get(), "rb");
  if (!f) {
    r.error = errno;
    return r;
  }
  fd.Release();
  file.Adopt(f);
  r.status = RegularOpen::kOk;
  return r;
}

BoundedRead ReadRegularFile(const std::string& path, uint64_t maxSize) {
  BoundedRead r;
  // Non-blocking, so that opening a FIFO without a writer does not wait for one.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsValid()) {
    r.error = errno;
    return r;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    r.status = BoundedRead::kNotRegular;
    return r;
  }
  r.size = static_cast<uint64_t>(st.st_size);
  if (r.size > maxSize) {
    r.status = BoundedRead::kTooLarge;
    return r;
  }
  r.data.resize(static_cast<size_t>(r.size) + 1);  // one more: a file that grew shows it
  size_t got = 0;
  for (;;) {
    if (got == r.data.size()) {
      if (got > maxSize) break;
      r.data.resize(std::min<uint64_t>(maxSize + 1, uint64_t(got) * 2 + 65536));
    }
    const ssize_t n = ::read(fd.Get(), r.data.data() + got, r.data.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      r.error = errno;
      r.status = BoundedRead::kReadError;
      r.data.clear();
      return r;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  r.size = got;
  if (got > maxSize) {
    r.status = BoundedRead::kTooLarge;
    r.data.clear();
    return r;
  }
  r.data.resize(got);
  r.status = BoundedRead::kOk;
  return r;
}

}  // namespace edog
