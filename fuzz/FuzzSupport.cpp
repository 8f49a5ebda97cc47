#include "fuzz/FuzzSupport.h"

#include <filesystem>

#include "common/Files.h"

namespace edog::fuzz {

const std::string& ScratchDir() {
  // Never destroyed: the exit handler below runs after static destructors registered later.
  static const std::string& dir = *new std::string([] {
    std::string d = MakeUniqueTempDirectory();
    if (d.empty()) Fail("cannot make a scratch folder", __FILE__, __LINE__);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchDir(), ec);
    });
    return d;
  }());
  return dir;
}

std::string WriteScratch(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = JoinPath(ScratchDir(), name);
  if (!WriteWholeFile(path, data, size)) Fail("cannot write a scratch file", __FILE__, __LINE__);
  return path;
}

}  // namespace edog::fuzz
