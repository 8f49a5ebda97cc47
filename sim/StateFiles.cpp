#include "sim/StateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Files.h"
#include "common/UniqueFd.h"
#include "device/DeviceSocketTrust.h"

namespace edog::sim {
namespace {

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// What stands at `path` instead of a regular file, or null.
const char* Intruder(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return nullptr;
  if (S_ISLNK(st.st_mode)) return "a symbolic link";
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISFIFO(st.st_mode)) return "a named pipe";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "a device";
}

std::string Refusal(const std::string& path, const char* kind) {
  return path + " is " + kind + ", not a regular file: the simulator does not write through it; "
         "remove it or choose another state folder (--state DIR)";
}

}  // namespace

bool MakeStateFolder(const std::string& dir, std::string* error) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno == ENOENT) {
    const size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0) MakeDirectory(dir.substr(0, slash));
    ::mkdir(dir.c_str(), 0700);
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0)
    return Fail(error, "cannot create the state folder " + dir + ": " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return Fail(error, "the state folder " + dir + " is not a folder");
  // Another user's folder, or one others may change, would let them swap the flash
  // images, the journal or what the tools read from it.
  if (std::string why = StateFolderProblem(dir); !why.empty()) return Fail(error, why);
  return true;
}

int OpenStateFile(const std::string& path, int flags, std::string* error) {
  const auto refuse = [&](const std::string& why) {
    if (error) *error = why;
    return -1;
  };
  // O_NONBLOCK: opening a pipe that nobody reads must not wait; a regular file ignores it.
  UniqueFd fd(::open(path.c_str(), flags | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  struct stat st {};
  if (!fd.IsValid()) {
    const int err = errno;
    if (::lstat(path.c_str(), &st) == 0 && Intruder(st)) return refuse(Refusal(path, Intruder(st)));
    return refuse("cannot open " + path + ": " + std::strerror(err));
  }
  if (::fstat(fd.Get(), &st) != 0) return refuse("cannot examine " + path + ": " + std::strerror(errno));
  if (const char* kind = Intruder(st)) return refuse(Refusal(path, kind));
  if (st.st_uid != ::geteuid())
    return refuse(path + " belongs to user " + std::to_string(static_cast<unsigned long>(st.st_uid)) +
                  ": the simulator keeps its state in files of its own; remove it or choose "
                  "another state folder (--state DIR)");
  if ((st.st_mode & 077) && ::fchmod(fd.Get(), 0600) != 0)
    return refuse("cannot make " + path + " private: " + std::strerror(errno));
  ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  return fd.Release();
}

bool WriteStateFile(const std::string& path, const std::string& text, std::string* error) {
  const UniqueFd fd(OpenStateFile(path, O_WRONLY, error));
  if (!fd.IsValid()) return false;
  if (::ftruncate(fd.Get(), 0) != 0) return Fail(error, "cannot write " + path + ": " + std::strerror(errno));
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(error, "cannot write " + path + ": " + std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace edog::sim
