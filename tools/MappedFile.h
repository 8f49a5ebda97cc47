#pragma once
// A read-only mapping of a whole file: readers look at large files without copying.
#include <cstddef>
#include <cstdint>
#include <string>

namespace edog {

class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() { Close(); }
  // False when the file cannot be opened or mapped. An empty file opens with Size() 0.
  bool Open(const std::string& path);
  void Close();
  const uint8_t* Data() const { return data_; }
  uint64_t Size() const { return size_; }

 private:
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  void* mapping_ = nullptr;  // Windows mapping handle
};

}  // namespace edog
