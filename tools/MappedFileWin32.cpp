#include <windows.h>

#include <memory>
#include <type_traits>

#include "common/FsPath.h"
#include "tools/MappedFile.h"

namespace edog {
namespace {

struct HandleClose {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

}  // namespace

bool MappedFile::Open(const std::string& path) {
  Close();
  const UniqueHandle file(CreateFileW(FsPath(path).wstring().c_str(), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return false;
  size_ = static_cast<uint64_t>(size.QuadPart);
  if (size_ > 0) {
    UniqueHandle mapping(CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) {
      size_ = 0;
      return false;
    }
    data_ = static_cast<const uint8_t*>(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!data_) {
      size_ = 0;
      return false;
    }
    mapping_ = mapping.release();  // the view outlives the file handle
  }
  return true;
}

void MappedFile::Close() {
  if (data_) UnmapViewOfFile(data_);
  if (mapping_) CloseHandle(static_cast<HANDLE>(mapping_));
  data_ = nullptr;
  mapping_ = nullptr;
  size_ = 0;
}

}  // namespace edog
