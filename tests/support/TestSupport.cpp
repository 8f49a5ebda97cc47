#include "support/TestSupport.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "common/DynamicLibrary.h"
#include "device/UsbLibraryApi.h"

namespace edog::test {
namespace fs = std::filesystem;

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream f(fs::u8path(path), std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(fs::u8path(path), std::ios::binary);
  f << text;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(fs::u8path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::string ReadText(const std::string& path) {
  std::ifstream f(fs::u8path(path), std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string BinDir() { return HostPath(EDOG_BIN_DIR); }

std::string PluginPath(const std::string& baseName) {
  return BinDir() + "/" + DynamicLibrary::PlatformFileName(baseName);
}

std::string StandInLibrary() { return PluginPath(USB_LIBRARY_NAME); }
std::string SourceDir() { return HostPath(EDOG_SOURCE_DIR); }
std::string CorpusDir() { return SourceDir() + "/tests/corpus"; }
std::string GoldenDir() { return SourceDir() + "/tests/golden"; }

bool HaveHostTool(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  return fs::exists(path);
#endif
}

std::string ForwardSlashes(std::string path) {
#ifdef _WIN32
  for (char& c : path)
    if (c == '\\') c = '/';
#endif
  return path;
}

KeptFile KeptBytes(const std::vector<uint8_t>& data) {
  static TempDir dir;  // removed at exit, after every test's files are closed
  static std::atomic<unsigned> count{0};
  const std::string path = dir / ("kept" + std::to_string(count++));
  WriteFile(path, data);
  KeptFile file = KeptFile::OpenRegular(path);
  std::remove(path.c_str());
  return file;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

}  // namespace edog::test
