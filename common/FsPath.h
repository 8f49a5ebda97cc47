#pragma once
// Our paths are byte strings: UTF-8 where we made them, whatever a package or a user gave
// otherwise. std::filesystem on Windows must convert them to UTF-16 and throws on bytes
// that do not convert; this conversion never throws.
#include <filesystem>
#include <string>

namespace edog {

// UTF-8 text, else (Windows) the system code page's reading of the bytes, else an empty
// path, on which every std::filesystem call with an error_code fails cleanly.
inline std::filesystem::path FsPath(const std::string& path) {
  try {
    return std::filesystem::u8path(path);
  } catch (const std::exception&) {
  }
  try {
    return std::filesystem::path(path);
  } catch (const std::exception&) {
  }
  return {};
}

}  // namespace edog
