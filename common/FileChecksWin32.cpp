#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "common/FileChecks.h"
#include "common/Files.h"
#include "common/FsPath.h"

namespace edog {
namespace fs = std::filesystem;

RegularOpen OpenRegularFile(const std::string& path, StdFile& file) {
  RegularOpen r;
  std::error_code ec;
  const auto p = FsPath(path);
  if (fs::exists(p, ec) && !fs::is_regular_file(p, ec)) {
    r.status = RegularOpen::kNotRegular;  // a folder or a device name (CON, COM1, ...)
    return r;
  }
  if (!file.Open(path, "rb")) {
    r.error = errno ? errno : ENOENT;
    return r;
  }
  r.status = RegularOpen::kOk;
  return r;
}

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
  // The length decides before any byte is read, as a file of any size may be named.
  const uint64_t length = fs::file_size(p, ec);
  if (!ec && length > maxSize) {
    r.size = length;
    r.status = BoundedRead::kTooLarge;
    return r;
  }
  struct FileClose {
    void operator()(FILE* f) const { std::fclose(f); }
  };
  const std::unique_ptr<FILE, FileClose> f(_wfopen(p.c_str(), L"rb"));
  if (!f) {
    r.error = errno;
    return r;
  }
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
    r.data.insert(r.data.end(), buf, buf + n);
    if (r.data.size() > maxSize) break;
  }
  const bool failed = std::ferror(f.get()) != 0;
  r.size = r.data.size();
  r.status = failed ? BoundedRead::kReadError
                    : r.size > maxSize ? BoundedRead::kTooLarge : BoundedRead::kOk;
  if (r.status != BoundedRead::kOk) r.data.clear();
  return r;
}

}  // namespace edog
