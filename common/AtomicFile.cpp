#include "common/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "common/AtomicFileOs.h"
#include "common/KeptFile.h"
#include "common/Paths.h"

namespace edog {
namespace {

// A name unlikely to be taken; O_EXCL decides.
std::string TempName(const std::string& target, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
  const auto ticks = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  const unsigned long pid = atomic_os::ProcessId();
  const unsigned long long mix = ticks ^ (uint64_t(pid) << 32) ^ (counter++ * 0x9E3779B9ull) ^ attempt;
  static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  unsigned long long v = mix;
  for (int i = 0; i < 6; ++i, v /= 36) suffix += kDigits[v % 36];
  // A name near the file system's 255-byte limit gets a short hidden name in its folder.
  const size_t nameStart = FileNameStart(target);
  if (target.size() - nameStart > 200) return target.substr(0, nameStart) + ".tmp" + suffix;
  return target + ".tmp" + suffix;
}

}  // namespace

bool IsNoSpaceError(int error) {
  return error == ENOSPC || error == EFBIG
#ifdef EDQUOT
         || error == EDQUOT
#endif
      ;
}

bool AtomicFileWriter::Failed() {
  if (error_ == 0) error_ = errno ? errno : EIO;
  return false;
}

bool AtomicFileWriter::Open(const std::string& target) {
  Discard();
  target_ = target;
  error_ = 0;
  // Only a regular file (or a link, which the rename replaces) may stand at the target:
  // renaming over a folder fails late, and over a device or pipe would replace it.
  if (const int refusal = atomic_os::TargetRefusal(target); refusal != 0) {
    errno = refusal;
    return Failed();
  }
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TempName(target, attempt);
    file_ = atomic_os::CreateExclusive(name, target);
    if (!file_) {
      if (errno == EEXIST) continue;
      return Failed();
    }
    temp_ = name;
    return true;
  }
  errno = EEXIST;
  return Failed();
}

std::string AtomicFileWriter::OpenFailureText() const {
  if (error_ == EISDIR) return target_ + " is a folder, not a regular file";
  if (error_ == EINVAL) return target_ + " is a pipe, device or socket, not a regular file";
  return "cannot create " + target_ + ": " + std::strerror(error_ ? error_ : EIO);
}

bool AtomicFileWriter::Write(const void* data, size_t size) {
  if (!file_) return false;
  if (size == 0) return true;
  errno = 0;
  return std::fwrite(data, 1, size, file_) == size || Failed();
}

bool AtomicFileWriter::WriteText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return Write(out.data(), out.size());
}

bool AtomicFileWriter::Flush() {
  if (!file_) return false;
  errno = 0;
  return std::fflush(file_) == 0 || Failed();
}

bool AtomicFileWriter::Commit() {
  KeptFile none;
  return Commit(none, false);
}

bool AtomicFileWriter::Commit(KeptFile& kept) { return Commit(kept, true); }

bool AtomicFileWriter::Commit(KeptFile& kept, bool keep) {
  kept.Close();
  if (!file_) return false;
  errno = 0;
  bool written = error_ == 0 && std::fflush(file_) == 0;
  if (!written) Failed();
  intptr_t handle = KeptFile::kNoHandle;
  if (written && keep) {
    // Taken before the rename: the name may be another file by the time it is read.
    errno = 0;
    handle = atomic_os::DuplicateForReading(file_);
    if (handle == KeptFile::kNoHandle) written = Failed();
  }
  KeptFile taken(handle, target_);
  FILE* f = file_;
  file_ = nullptr;
  errno = 0;
  const bool closed = std::fclose(f) == 0;
  if (!closed) Failed();
  if (written && closed) {
    errno = 0;
    if (atomic_os::ReplaceWith(temp_, target_)) {
      temp_.clear();
      kept = std::move(taken);
      return true;
    }
    Failed();
  }
  taken.Close();
  atomic_os::RemoveTemporary(temp_);
  temp_.clear();
  return false;
}

void AtomicFileWriter::Discard() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temp_.empty()) {
    atomic_os::RemoveTemporary(temp_);
    temp_.clear();
  }
}

}  // namespace edog
