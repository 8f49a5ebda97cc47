#include "common/FileChecks.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/Files.h"
#include "common/Format.h"
#include "common/FsPath.h"

namespace edog {
namespace fs = std::filesystem;

BoundedRead ReadBounded(uint64_t length, uint64_t maxSize,
                        const std::function<long long(uint64_t, uint8_t*, size_t)>& read) {
  BoundedRead r;
  r.size = length;
  if (length > maxSize) {
    r.status = BoundedRead::kTooLarge;
    return r;
  }
  r.data.resize(static_cast<size_t>(length) + 1);
  size_t got = 0;
  for (;;) {
    if (got == r.data.size()) {
      if (got > maxSize) break;
      r.data.resize(static_cast<size_t>(std::min<uint64_t>(maxSize + 1, uint64_t(got) * 2 + 65536)));
    }
    const long long n = read(got, r.data.data() + got, r.data.size() - got);
    if (n < 0) {
      r.status = BoundedRead::kReadError;
      r.error = errno;
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

BoundedRead ReadRegularFile(const std::string& path, uint64_t maxSize) {
  BoundedRead r;
  StdFile file;
  const RegularOpen opened = OpenRegularFile(path, file);
  if (opened.status != RegularOpen::kOk) {
    r.status = opened.status == RegularOpen::kNotRegular ? BoundedRead::kNotRegular
                                                          : BoundedRead::kCannotOpen;
    r.error = opened.error;
    return r;
  }
  // The length decides before any byte is read, as a file of any size may be named.
  return ReadBounded(FileSize(path).value_or(0), maxSize,
                     [&](uint64_t, uint8_t* data, size_t size) -> long long {
                       const size_t n = file.Read(data, size);
                       return n == 0 && std::ferror(file.Get()) ? -1 : static_cast<long long>(n);
                     });
}

std::string RegularOpenMessage(const RegularOpen& r, const std::string& path) {
  switch (r.status) {
    case RegularOpen::kOk: return {};
    case RegularOpen::kCannotOpen:
      return Format("cannot open %s: %s", path.c_str(), std::strerror(r.error));
    case RegularOpen::kNotRegular:
      return Format("%s is not a regular file (a device, pipe or folder has no size to read)",
                    path.c_str());
  }
  return {};
}

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
