#pragma once
// Path splitting in one place. The paths the tools take from lists, dialogs and command
// lines may be written either way, so both '\\' and '/' end a folder there on every
// platform; the program's own paths use the platform's separators (FolderSeparators()).
#include <cstddef>
#include <string>

namespace edog {

constexpr const char* kAnyFolderSeparator = "\\/";

// Where the file name starts: one past the last separator, 0 when there is none.
size_t FileNameStart(const std::string& path, const char* separators = kAnyFolderSeparator);

// The folder part, up to and including the last separator; empty when there is none.
std::string FolderPart(const std::string& path, const char* separators = kAnyFolderSeparator);

// The dot that starts the file name's extension, npos when the name has none: a dot in a
// folder name does not count.
size_t ExtensionDot(const std::string& path);

}  // namespace edog
