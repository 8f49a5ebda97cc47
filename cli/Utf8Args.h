#pragma once
// The program's arguments as UTF-8, whatever the system's code page: on Windows the C
// runtime hands main() the ANSI code page's reading, which loses every name outside it
// (Chinese folder names on a Western system, for one).
#include <string>
#include <vector>

namespace edog::cli {

std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace edog::cli
