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

}  // namespace edog
