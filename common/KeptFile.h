#pragma once
// A file read through the handle it was opened or created with. Renaming, replacing or
// removing its name afterwards changes nothing of what is read through it, so what one
// step checked is what the next one sends.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/FileChecks.h"

namespace edog {

class KeptFile {
 public:
  KeptFile() = default;
  ~KeptFile() { Close(); }
  KeptFile(KeptFile&& o) noexcept : handle_(o.handle_), path_(std::move(o.path_)) {
    o.handle_ = kNoHandle;
  }
  KeptFile& operator=(KeptFile&& o) noexcept;
  KeptFile(const KeptFile&) = delete;
  KeptFile& operator=(const KeptFile&) = delete;

  // Opens an existing regular file for reading; a FIFO, device or folder is refused
  // without blocking or reading (`why` says which, as OpenRegularFile does).
  static KeptFile OpenRegular(const std::string& path, RegularOpen* why = nullptr);

  bool IsOpen() const { return handle_ != kNoHandle; }
  // The name the file had when it was opened: for messages only, never reopened.
  const std::string& Path() const { return path_; }
  std::optional<uint64_t> Size() const;
  // Up to `size` bytes from `offset` (fewer at the end); 0 also on a read error.
  size_t ReadAt(uint64_t offset, void* data, size_t size) const;
  // The whole file when it holds at most `maxSize` bytes (statuses as ReadRegularFile's).
  BoundedRead ReadAll(uint64_t maxSize) const;
  // A second handle on the same open file, kept out of child processes: whoever takes it
  // reads on after this one is closed. Not open when the system cannot make one.
  KeptFile Duplicate() const;
  void Close();

 private:
  friend class AtomicFileWriter;  // hands over the handle it wrote through
  static constexpr intptr_t kNoHandle = -1;  // also INVALID_HANDLE_VALUE
  KeptFile(intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  intptr_t handle_ = kNoHandle;  // a descriptor (POSIX) or a HANDLE (Windows)
  std::string path_;
};

}  // namespace edog
