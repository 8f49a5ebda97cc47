#include <windows.h>

#include <cerrno>
#include <filesystem>

#include "common/FsPath.h"
#include "common/KeptFile.h"

namespace edog {
namespace {
HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

KeptFile KeptFile::OpenRegular(const std::string& path, RegularOpen* why) {
  RegularOpen r;
  std::error_code ec;
  const std::filesystem::path p = FsPath(path);
  HANDLE h = INVALID_HANDLE_VALUE;
  if (std::filesystem::exists(p, ec) && !std::filesystem::is_regular_file(p, ec)) {
    r.status = RegularOpen::kNotRegular;  // a folder or a device name (CON, COM1, ...)
  } else {
    // Others may still rename or remove the name: the handle keeps the file itself.
    h = p.empty() ? INVALID_HANDLE_VALUE
                  : CreateFileW(p.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD e = GetLastError();
      r.error = e == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
    } else if (GetFileType(h) != FILE_TYPE_DISK) {
      r.status = RegularOpen::kNotRegular;
      CloseHandle(h);
      h = INVALID_HANDLE_VALUE;
    } else {
      r.status = RegularOpen::kOk;
    }
  }
  if (why) *why = r;
  return h != INVALID_HANDLE_VALUE ? KeptFile(reinterpret_cast<intptr_t>(h), path) : KeptFile();
}

std::optional<uint64_t> KeptFile::Size() const {
  LARGE_INTEGER size{};
  if (!IsOpen() || !GetFileSizeEx(AsHandle(handle_), &size)) return std::nullopt;
  return static_cast<uint64_t>(size.QuadPart);
}

size_t KeptFile::ReadAt(uint64_t offset, void* data, size_t size) const {
  if (!IsOpen()) {
    errno = EBADF;
    return 0;
  }
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  DWORD got = 0;
  if (ReadFile(AsHandle(handle_), data, want, &got, &at)) return got;
  if (GetLastError() != ERROR_HANDLE_EOF) errno = EIO;
  return 0;
}

KeptFile KeptFile::Duplicate() const {
  if (!IsOpen()) return KeptFile();
  HANDLE copy = nullptr;
  // Not inheritable, with the original's access: reads at explicit offsets, like this one.
  if (!DuplicateHandle(GetCurrentProcess(), AsHandle(handle_), GetCurrentProcess(), &copy, 0,
                       FALSE, DUPLICATE_SAME_ACCESS))
    return KeptFile();
  return KeptFile(reinterpret_cast<intptr_t>(copy), path_);
}

void KeptFile::Close() {
  if (IsOpen()) CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
}

}  // namespace edog
