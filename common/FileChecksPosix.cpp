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

}  // namespace edog
