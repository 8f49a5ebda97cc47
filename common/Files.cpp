#include "common/Files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "common/FsPath.h"

#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

namespace edog {
namespace fs = std::filesystem;

bool StdFile::Open(const std::string& path, const char* mode) {
  Close();
  std::string m(mode);
  if (m.find('b') == std::string::npos) m += 'b';
  f_ = std::fopen(path.c_str(), m.c_str());
  return f_ != nullptr;
}

bool StdFile::Close() {
  if (!f_) return true;
  const bool ok = std::fclose(f_) == 0;
  f_ = nullptr;
  return ok;
}

bool StdFile::Write(const void* data, size_t size) {
  return f_ && (size == 0 || std::fwrite(data, 1, size, f_) == size);
}

size_t StdFile::Read(void* data, size_t size) {
  return f_ ? std::fread(data, 1, size, f_) : 0;
}

bool CrlfTextWriter::Write(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return file_.Write(out.data(), out.size());
}

std::optional<Bytes> ReadWholeFile(const std::string& path) {
  StdFile f(path, "rb");
  if (!f.IsOpen()) return std::nullopt;
  Bytes data;
  uint8_t buf[65536];
  size_t n;
  while ((n = f.Read(buf, sizeof buf)) > 0) data.insert(data.end(), buf, buf + n);
  if (std::ferror(f.Get())) return std::nullopt;
  return data;
}

bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  StdFile f(path, "wb");
  if (!f.IsOpen()) return false;
  const bool ok = f.Write(data, size);
  return f.Close() && ok;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(FsPath(path), ec);
}

bool DirectoryExists(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(FsPath(path), ec);
}

std::optional<uint64_t> FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(FsPath(path), ec);
  if (ec) return std::nullopt;
  return static_cast<uint64_t>(size);
}

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool RemoveDirectory(const std::string& path) {
#ifdef _WIN32
  return _rmdir(path.c_str()) == 0;
#else
  return rmdir(path.c_str()) == 0;
#endif
}

bool MakeDirectory(const std::string& path) {
  std::error_code ec;
  fs::create_directories(FsPath(path), ec);
  return DirectoryExists(path);
}

char PathSeparator() {
#ifdef _WIN32
  return '\\';
#else
  return '/';
#endif
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  const char last = dir.back();
  if (last == '/' || last == PathSeparator()) return dir + name;
  return dir + PathSeparator() + name;
}

std::string MakeUniqueTempDirectory() {
  std::string base;
  if (const char* tmp = std::getenv("TMP"); tmp && *tmp && DirectoryExists(tmp)) {
    base = tmp;
  } else {
    std::error_code ec;
    base = fs::temp_directory_path(ec).u8string();
    if (ec || base.empty()) base = ".";
  }
#ifdef _WIN32
  // No mkdtemp: try fresh names until one can be created (creation itself is the test).
  for (unsigned i = 0; i < 100000; ++i) {
    const std::string dir = JoinPath(base, "tmp" + std::to_string(std::rand()) + std::to_string(i));
    if (_mkdir(dir.c_str()) == 0) return dir;
    if (errno != EEXIST) return {};
  }
  return {};
#else
  std::string templ = JoinPath(base, "tmpXXXXXX");
  if (!mkdtemp(templ.data())) return {};
  return templ;
#endif
}

}  // namespace edog
