#include <windows.h>

#include <filesystem>
#include <vector>

#include "common/FsPath.h"
#include "common/VendorPath.h"

namespace edog {
namespace {

std::optional<std::string> ExactAnsi(const std::string& utf8) {
  const std::wstring wide = FsPath(utf8).wstring();
  if (wide.empty()) return utf8.empty() ? std::optional<std::string>("") : std::nullopt;
  // No best fit: "é" must not quietly become "e" under a code page without it, which
  // would name another file (or none).
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                    static_cast<int>(wide.size()), nullptr, 0, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return std::nullopt;
  std::string ansi(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                      ansi.data(), n, nullptr, &usedDefault);
  if (usedDefault) return std::nullopt;
  return ansi;
}

std::optional<std::string> ShortPath(const std::string& utf8) {
  const std::wstring wide = FsPath(utf8).wstring();
  if (wide.empty()) return std::nullopt;
  const DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (n == 0) return std::nullopt;
  std::vector<wchar_t> buf(n);
  const DWORD got = GetShortPathNameW(wide.c_str(), buf.data(), n);
  if (got == 0 || got >= n) return std::nullopt;
  return std::filesystem::path(std::wstring(buf.data(), got)).u8string();
}

}  // namespace

NarrowPathSystem SystemNarrowPaths() {
  return {ExactAnsi, ShortPath, std::to_string(GetACP())};
}

}  // namespace edog
