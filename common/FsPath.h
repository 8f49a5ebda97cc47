#pragma once
// Our paths are byte strings: UTF-8 where we made them, whatever a package or a user gave
// otherwise. std::filesystem on Windows must convert them to UTF-16 and throws on bytes
// that do not convert; this conversion never throws.
#include <filesystem>
#include <string>

namespace edog {

// UTF-8 text; else, on Windows, the ANSI code page's reading of the bytes (a name that
// came through a narrow system call), else an empty path, on which every std::filesystem
// call with an error_code fails cleanly. On POSIX the bytes are the name as they are.
// Defined in Files*.cpp.
std::filesystem::path FsPath(const std::string& path);

}  // namespace edog
