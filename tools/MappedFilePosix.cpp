#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/UniqueFd.h"
#include "tools/MappedFile.h"

namespace edog {

bool MappedFile::Open(const std::string& path) {
  Close();
  // Non-blocking, so that a FIFO is refused below instead of waiting for a writer.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.IsValid()) return false;
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size_ = static_cast<uint64_t>(st.st_size);
  if (size_ > 0) {
    void* p = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd.Get(), 0);
    if (p == MAP_FAILED) {
      size_ = 0;
      return false;
    }
    data_ = static_cast<const uint8_t*>(p);
  }
  return true;  // the mapping outlives the descriptor
}

void MappedFile::Close() {
  if (data_) munmap(const_cast<uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace edog
