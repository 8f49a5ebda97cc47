#include "common/FileChecks.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/Format.h"
#include "common/FsPath.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace edog {
namespace fs = std::filesystem;

#ifdef _WIN32
BoundedRead ReadRegularFile(const std::string& path, uint64_t maxSize) {
  BoundedRead r;
  std::error_code ec;
  const auto p = FsPath(path);
  if (!fs::exists(p, ec)) {
    r.error = ENOENT;
    return r;
  }
  if (!fs::is_regular_file(p, ec)) {
    r.status = BoundedRead::kNotRegular;
    return r;
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    r.error = errno;
    return r;
  }
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    r.data.insert(r.data.end(), buf, buf + n);
    if (r.data.size() > maxSize) break;
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  r.size = r.data.size();
  r.status = failed ? BoundedRead::kReadError
                    : r.size > maxSize ? BoundedRead::kTooLarge : BoundedRead::kOk;
  if (r.status != BoundedRead::kOk) r.data.clear();
  return r;
}
#else
BoundedRead ReadRegularFile(const std::string& path, uint64_t maxSize) {
  BoundedRead r;
  // Non-blocking, so that opening a FIFO without a writer does not wait for one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    r.error = errno;
    return r;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    r.status = BoundedRead::kNotRegular;
    return r;
  }
  r.size = static_cast<uint64_t>(st.st_size);
  if (r.size > maxSize) {
    ::close(fd);
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
    const ssize_t n = ::read(fd, r.data.data() + got, r.data.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      r.error = errno;
      ::close(fd);
      r.status = BoundedRead::kReadError;
      r.data.clear();
      return r;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
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
#endif

std::string BoundedReadMessage(const BoundedRead& r, const std::string& path, uint64_t maxSize) {
  switch (r.status) {
    case BoundedRead::kOk: return {};
    case BoundedRead::kCannotOpen:
      return Format("cannot open %s: %s", path.c_str(), std::strerror(r.error));
    case BoundedRead::kNotRegular:
      return Format("%s is not a regular file (a device, pipe or folder has no size to read)",
                    path.c_str());
    case BoundedRead::kTooLarge:
      return Format("%s is too large: %llu bytes, at most %llu fit", path.c_str(),
                    (unsigned long long)r.size, (unsigned long long)maxSize);
    case BoundedRead::kReadError:
      return Format("cannot read %s: %s", path.c_str(), std::strerror(r.error));
  }
  return {};
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  const fs::path pa = FsPath(a), pb = FsPath(b);
  if (fs::equivalent(pa, pb, ec)) return true;
  const fs::path na = fs::absolute(pa, ec).lexically_normal();
  const fs::path nb = fs::absolute(pb, ec).lexically_normal();
  return !ec && na == nb;
}

std::string InputOverwrittenBy(const std::string& output, const std::vector<std::string>& inputs) {
  for (const std::string& in : inputs)
    if (SameFile(output, in)) return in;
  return {};
}

}  // namespace edog
