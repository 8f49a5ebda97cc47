#pragma once
// An output file that appears whole or not at all: the bytes go into a temporary file in
// the target's folder, and only Commit() renames it over the target. A writer destroyed
// (or discarded) before its commit removes the temporary file, so a failed run leaves
// neither a truncated output nor a stray temporary file. The rename also replaces a link
// planted at the target instead of writing through it.
#include <cstddef>
#include <cstdio>
#include <string>

namespace edog {

class KeptFile;

class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  explicit AtomicFileWriter(const std::string& target) { Open(target); }
  ~AtomicFileWriter() { Discard(); }
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Creates the temporary file beside `target` (any earlier one is discarded). A folder,
  // device or pipe at `target` is refused (EISDIR, EINVAL).
  bool Open(const std::string& target);
  bool IsOpen() const { return file_ != nullptr; }
  bool Write(const void* data, size_t size);
  // Text with CR LF line ends: every "\n" becomes "\r\n".
  bool WriteText(const std::string& text);
  // Pushes buffered bytes to the temporary file (to read them back through TempPath()).
  bool Flush();
  // Closes the temporary file and renames it over the target. On failure the temporary
  // file is removed and the target is left as it was.
  bool Commit();
  // Commits as Commit() does and hands over a read handle on the file, the one it was
  // written through: what is read through `kept` is what was written, whatever happens
  // to the name afterwards. On failure `kept` stays closed.
  bool Commit(KeptFile& kept);
  // Removes the temporary file; the target is left as it was.
  void Discard();

  const std::string& Target() const { return target_; }
  const std::string& TempPath() const { return temp_; }
  // errno of the first failure (0 when none), e.g. ENOSPC for a full disk.
  int Error() const { return error_; }
  // Why Open() failed, naming the target: "PATH is a folder, not a regular file", "PATH is
  // a pipe, device or socket, not a regular file", "cannot create PATH: reason".
  std::string OpenFailureText() const;

 private:
  bool Failed();
  bool Commit(KeptFile& kept, bool keep);
  std::string target_, temp_;
  FILE* file_ = nullptr;
  int error_ = 0;
};

// Whether an errno value means there is no room left for the file (full disk, quota, size
// limit).
bool IsNoSpaceError(int error);

}  // namespace edog
