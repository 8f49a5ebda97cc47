#include "sim/FlashModel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/Files.h"
#include "common/UniqueFd.h"
#include "sim/StateFiles.h"
#include "update/HeaderedImage.h"

namespace edog::sim {
namespace {
const char* FileName(uint8_t flash) {
  switch (flash) {
    case kFlashE: return "eflash.bin";
    case kFlashSerial: return "serial-flash.bin";
    case kFlashNand: return "nand-flash.bin";
    default: return nullptr;
  }
}
}  // namespace

FlashModel::~FlashModel() { Close(); }

uint64_t FlashModel::Capacity(uint8_t flash) const {
  switch (flash) {
    case kFlashE: return sizes_.eflash;
    case kFlashSerial: return sizes_.serial;
    case kFlashNand: return sizes_.nand;
    default: return 0;
  }
}

uint64_t FlashModel::ByteAddress(uint8_t flash, uint32_t startField) {
  return FlashByteAddress(flash, startField);
}

const char* FlashModel::Name(uint8_t flash) { return FlashName(flash); }

std::string FlashModel::FilePath(uint8_t flash) const {
  const char* name = FileName(flash);
  return name ? JoinPath(dir_, name) : std::string();
}

bool FlashModel::Open(std::string* error) {
  Close();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!MakeStateFolder(dir_, error)) return false;
  for (uint8_t flash = kFlashE; flash <= kFlashNand; ++flash) {
    const std::string path = FilePath(flash);
    UniqueFd fd(OpenStateFile(path, O_RDWR, error));
    if (!fd.IsValid()) return false;
    // The image has the memory's full size from the start; holes cost no disk space.
    struct stat st {};
    if (::fstat(fd.Get(), &st) == 0 && uint64_t(st.st_size) < Capacity(flash) &&
        ::ftruncate(fd.Get(), static_cast<off_t>(Capacity(flash))) != 0) {
      if (error) *error = "cannot size " + path + ": " + std::strerror(errno);
      return false;
    }
    fds_[flash - 1] = fd.Release();
  }
  return true;
}

void FlashModel::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int& fd : fds_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

int FlashModel::Fd(uint8_t flash) const {
  return flash >= kFlashE && flash <= kFlashNand ? fds_[flash - 1] : -1;
}

size_t FlashModel::Write(uint8_t flash, uint64_t byteAddress, const uint8_t* data, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int fd = Fd(flash);
  const uint64_t cap = Capacity(flash);
  if (fd < 0 || byteAddress >= cap) return 0;
  const size_t fits = static_cast<size_t>(std::min<uint64_t>(size, cap - byteAddress));
  size_t done = 0;
  while (done < fits) {
    const ssize_t n = ::pwrite(fd, data + done, fits - done, static_cast<off_t>(byteAddress + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

std::vector<uint8_t> FlashModel::Read(uint8_t flash, uint64_t byteAddress, size_t size) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint8_t> out(size, 0);
  const int fd = Fd(flash);
  if (fd < 0) return out;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, out.data() + done, size - done, static_cast<off_t>(byteAddress + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return out;
}

}  // namespace edog::sim
