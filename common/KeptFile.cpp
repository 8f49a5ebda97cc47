#include "common/KeptFile.h"

#include <algorithm>
#include <cerrno>

namespace edog {

KeptFile& KeptFile::operator=(KeptFile&& o) noexcept {
  if (this != &o) {
    Close();
    handle_ = o.handle_;
    path_ = std::move(o.path_);
    o.handle_ = kNoHandle;
  }
  return *this;
}

BoundedRead KeptFile::ReadAll(uint64_t maxSize) const {
  BoundedRead r;
  if (!IsOpen()) {
    r.error = EBADF;
    return r;
  }
  const std::optional<uint64_t> size = Size();
  if (!size) {
    r.status = BoundedRead::kReadError;
    r.error = EIO;
    return r;
  }
  return ReadBounded(*size, maxSize, [this](uint64_t offset, uint8_t* data, size_t n) -> long long {
    errno = 0;
    const size_t got = ReadAt(offset, data, n);
    return got == 0 && errno != 0 ? -1 : static_cast<long long>(got);
  });
}

}  // namespace edog
