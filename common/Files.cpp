#include "common/Files.h"

#include <cstdlib>
#include <filesystem>

#include "common/FilesOs.h"
#include "common/FsPath.h"
#include "common/TempFolder.h"

namespace edog {
namespace fs = std::filesystem;

bool StdFile::Open(const std::string& path, const char* mode) {
  Close();
  std::string m(mode);
  if (m.find('b') == std::string::npos) m += 'b';
  f_ = files_os::OpenFile(path, m.c_str());
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

bool RemoveFile(const std::string& path) {
  // Through std::filesystem: wide on Windows, like the calls that made the file.
  std::error_code ec;
  return std::filesystem::remove(FsPath(path), ec) && !ec;
}

bool MakeDirectory(const std::string& path) {
  std::error_code ec;
  fs::create_directories(FsPath(path), ec);
  return DirectoryExists(path);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  const char last = dir.back();
  if (last == '/' || last == PathSeparator()) return dir + name;
  return dir + PathSeparator() + name;
}

std::string MakeUniqueTempDirectory() { return MakeFreshTempFolder().path; }

}  // namespace edog
