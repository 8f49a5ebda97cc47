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
  r.size = *size;
  if (r.size > maxSize) {
    r.status = BoundedRead::kTooLarge;
    return r;
  }
  // One byte more than the length: a file that grew since shows it.
  r.data.resize(static_cast<size_t>(r.size) + 1);
  size_t got = 0;
  for (;;) {
    if (got == r.data.size()) {
      if (got > maxSize) break;
      r.data.resize(static_cast<size_t>(std::min<uint64_t>(maxSize + 1, uint64_t(got) * 2 + 65536)));
    }
    errno = 0;
    const size_t n = ReadAt(got, r.data.data() + got, r.data.size() - got);
    if (n == 0) {
      if (errno != 0) {
        r.status = BoundedRead::kReadError;
        r.error = errno;
        r.data.clear();
        return r;
      }
      break;
    }
    got += n;
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
