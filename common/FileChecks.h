#pragma once
// Checks on the files a tool is handed before it reads or writes them: inputs must be
// regular files of a bounded size (a device or a pipe never ends), and an output must
// not be one of the inputs.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace edog {

class StdFile;

// Opens `path` for reading only when it is a regular file: a FIFO, device or folder is
// refused at once, without waiting for a writer or reading a byte. Every reader of a
// user-named input opens it here.
struct RegularOpen {
  enum Status { kOk, kCannotOpen, kNotRegular };
  Status status = kCannotOpen;
  int error = 0;  // errno of kCannotOpen
};
RegularOpen OpenRegularFile(const std::string& path, StdFile& file);
// "PATH is not a regular file (...)", "cannot open PATH: reason"; empty for kOk.
std::string RegularOpenMessage(const RegularOpen& r, const std::string& path);

struct BoundedRead {
  enum Status { kOk, kCannotOpen, kNotRegular, kTooLarge, kReadError };
  Status status = kCannotOpen;
  std::vector<uint8_t> data;  // kOk
  uint64_t size = 0;          // kOk and kTooLarge: the length found
  int error = 0;              // errno of kCannotOpen and kReadError
};

// Reads a regular file of at most `maxSize` bytes. A FIFO, device or folder is refused
// without blocking or reading; a file that grows past the limit while read is kTooLarge.
BoundedRead ReadRegularFile(const std::string& path, uint64_t maxSize);
// The reading of a file found `length` bytes long, of at most `maxSize`: `read(offset,
// data, size)` gives the count read, 0 at the end, or -1 with errno set. One byte more
// than the length is asked for, so a file that grew while read is kTooLarge past the limit.
BoundedRead ReadBounded(uint64_t length, uint64_t maxSize,
                        const std::function<long long(uint64_t, uint8_t*, size_t)>& read);
// "PATH is not a regular file", "PATH is N bytes: at most M ...": the reason in plain words.
std::string BoundedReadMessage(const BoundedRead& r, const std::string& path, uint64_t maxSize);

// Whether two paths name the same file: the same existing file (links, "./" and ".."
// included), or the same spelling once made absolute when a file does not exist yet.
bool SameFile(const std::string& a, const std::string& b);

// The first input that `output` would overwrite, or an empty string.
std::string InputOverwrittenBy(const std::string& output, const std::vector<std::string>& inputs);

}  // namespace edog
