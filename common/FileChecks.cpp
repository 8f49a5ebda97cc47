#include "common/FileChecks.h"

#include <cstring>
#include <filesystem>

#include "common/Format.h"
#include "common/FsPath.h"

namespace edog {
namespace fs = std::filesystem;

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
