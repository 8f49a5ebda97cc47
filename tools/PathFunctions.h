#pragma once
// Names derived from paths, used by the image table and voice generators. Both '\\' and
// '/' end a folder; a leading "X:" is a drive.
#include <string>

namespace edog {

struct SplitPath {
  std::string drive, folder, name, extension;  // extension keeps its dot
};
SplitPath SplitFilePath(const std::string& path);

// "C:\\voice\\Hello.Wav" -> "Hello.Wav"; empty when the name part is empty.
std::string ExtractFileName(const std::string& path);
// "C:\\voice\\Hello.Wav" -> "Hello" ("HELLO" with upper). Only ASCII letters change case,
// so multibyte (UTF-8) characters stay whole.
std::string ExtractFileTitle(const std::string& path, bool upper);
// ("C:\\voice\\Hello.Wav", "enc") -> "C:\\voice\\Hello.enc".
std::string ReplaceExtension(const std::string& path, const std::string& extension);

}  // namespace edog
