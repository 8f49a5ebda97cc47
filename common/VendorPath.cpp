#include "common/VendorPath.h"

#include "common/Files.h"
#include "common/Paths.h"

namespace edog {
namespace {

NarrowPath Ok(std::string narrow, std::string actual) {
  return {true, std::move(narrow), std::move(actual), {}};
}

NarrowPath Refused(const std::string& utf8, const NarrowPathSystem& system, const char* what) {
  return {false, {}, {}, utf8 + ": " + what + " holds characters outside the system's code page " +
          system.codePage + " and has no short (8.3) name, so the voice encoder cannot open it"};
}

std::string Extension(const std::string& path) {
  const size_t dot = ExtensionDot(path);
  return dot == std::string::npos ? std::string() : path.substr(dot);
}

}  // namespace

NarrowPath NarrowInputPath(const std::string& utf8, const NarrowPathSystem& system) {
  if (auto ansi = system.exactAnsi(utf8)) return Ok(*ansi, utf8);
  if (auto shortForm = system.shortPath(utf8))
    if (auto ansi = system.exactAnsi(*shortForm)) return Ok(*ansi, utf8);
  return Refused(utf8, system, "the path");
}

NarrowPath NarrowOutputPath(const std::string& utf8, const std::string& input,
                            const NarrowPathSystem& system) {
  if (auto ansi = system.exactAnsi(utf8)) return Ok(*ansi, utf8);
  const std::string folder = FolderPart(utf8);
  const std::string name = utf8.substr(folder.size());
  std::optional<std::string> shortFolder = folder.empty() ? std::string() : system.shortPath(folder);
  std::optional<std::string> ansiFolder = shortFolder ? system.exactAnsi(*shortFolder) : std::nullopt;
  if (!ansiFolder) return Refused(utf8, system, "its folder");
  if (!ansiFolder->empty() && ansiFolder->back() != '\\' && ansiFolder->back() != '/')
    *ansiFolder += PathSeparator();
  if (auto ansiName = system.exactAnsi(name)) return Ok(*ansiFolder + *ansiName, utf8);
  // A name the code page cannot hold: the input's short name, with the output's extension.
  if (auto shortInput = system.shortPath(input)) {
    const std::string shortName = shortInput->substr(FileNameStart(*shortInput));
    const size_t dot = ExtensionDot(shortName);
    const std::string other = shortName.substr(0, dot) + Extension(name);
    if (auto ansiName = system.exactAnsi(other)) return Ok(*ansiFolder + *ansiName, folder + other);
  }
  return Refused(utf8, system, "its name");
}

}  // namespace edog
