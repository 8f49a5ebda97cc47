#pragma once
// Small file helpers shared by the tools and the update job. Failures are values.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace edog {

using Bytes = std::vector<uint8_t>;

std::optional<Bytes> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size);
inline bool WriteWholeFile(const std::string& path, const Bytes& data) {
  return WriteWholeFile(path, data.data(), data.size());
}
bool FileExists(const std::string& path);       // a regular file
bool DirectoryExists(const std::string& path);
std::optional<uint64_t> FileSize(const std::string& path);
bool RemoveFile(const std::string& path);
bool RemoveDirectory(const std::string& path);   // an empty one
bool MakeDirectory(const std::string& path);     // true when it exists afterwards

// Creates a fresh directory "<temp>/tmpXXXXXX" without a race (see MakeFreshTempFolder in
// common/TempFolder.h, which also says why it failed). Empty string on failure.
std::string MakeUniqueTempDirectory();

// An environment variable as UTF-8, read wide on Windows (the narrow copy holds only the
// ANSI code page: a Chinese user name in TEMP would not survive it); nullopt when unset.
std::optional<std::string> EnvironmentValue(const char* name);
// Sets one for this process and the programs and libraries it starts later; false when the
// system refused. Not while other threads may read the environment.
bool SetEnvironmentValue(const char* name, const std::string& value);

// The platform's folder separator, and a join that uses it.
char PathSeparator();
std::string JoinPath(const std::string& dir, const std::string& name);
// Every character that ends a folder in the platform's own paths ("/" here, "\\/" on Windows).
const char* FolderSeparators();
// Whether the file system ignores the case of file names (Windows) or not.
bool FileNamesIgnoreCase();

// RAII FILE* (binary mode always).
class StdFile {
 public:
  StdFile() = default;
  StdFile(const std::string& path, const char* mode) { Open(path, mode); }
  StdFile(const StdFile&) = delete;
  StdFile& operator=(const StdFile&) = delete;
  StdFile(StdFile&& o) noexcept : f_(o.f_) { o.f_ = nullptr; }
  ~StdFile() { Close(); }
  bool Open(const std::string& path, const char* mode);
  // Takes over a stream opened elsewhere (closing any open one).
  void Adopt(FILE* f) {
    Close();
    f_ = f;
  }
  bool Close();  // false when a buffered write failed
  bool IsOpen() const { return f_ != nullptr; }
  FILE* Get() const { return f_; }
  bool Write(const void* data, size_t size);
  size_t Read(void* data, size_t size);

 private:
  FILE* f_ = nullptr;
};

// Text files the tools write have CR LF line ends on every platform: every "\n" written
// through Write becomes "\r\n" (the file itself is opened in binary mode).
class CrlfTextWriter {
 public:
  bool Open(const std::string& path) { return file_.Open(path, "wb"); }
  bool IsOpen() const { return file_.IsOpen(); }
  bool Write(const std::string& text);
  bool Close() { return file_.Close(); }

 private:
  StdFile file_;
};

}  // namespace edog
