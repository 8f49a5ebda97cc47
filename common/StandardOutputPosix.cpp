#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/StandardOutput.h"

namespace edog {

void GuardStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Read-only for output and write-only for input: every use fails with EBADF, as on
    // the closed descriptor, but the number stays taken.
    const int placeholder = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (placeholder >= 0 && placeholder != fd) {
      ::dup2(placeholder, fd);
      ::close(placeholder);
    }
  }
}

}  // namespace edog
