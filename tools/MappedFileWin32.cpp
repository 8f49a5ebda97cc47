#include <windows.h>

#include "tools/MappedFile.h"

namespace edog {

bool MappedFile::Open(const std::string& path) {
  Close();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    return false;
  }
  size_ = static_cast<uint64_t>(size.QuadPart);
  if (size_ > 0) {
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) {
      CloseHandle(file);
      size_ = 0;
      return false;
    }
    data_ = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    mapping_ = mapping;
    if (!data_) {
      CloseHandle(mapping);
      mapping_ = nullptr;
      size_ = 0;
    }
  }
  CloseHandle(file);
  return size_ == 0 || data_ != nullptr;
}

void MappedFile::Close() {
  if (data_) UnmapViewOfFile(data_);
  if (mapping_) CloseHandle(static_cast<HANDLE>(mapping_));
  data_ = nullptr;
  mapping_ = nullptr;
  size_ = 0;
}

}  // namespace edog
