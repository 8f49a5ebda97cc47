#include "cli/Utf8Args.h"

#include <windows.h>
#include <shellapi.h>

namespace edog::cli {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide || count != argc) {
    if (wide) LocalFree(wide);
    return {argv, argv + argc};
  }
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? static_cast<size_t>(size) : 1, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), size, nullptr, nullptr);
    text.resize(text.size() - 1);  // the terminating zero
    args.push_back(std::move(text));
  }
  LocalFree(wide);
  return args;
}

}  // namespace edog::cli
