#pragma once
// Options more than one command takes, registered and read with one wording.
#include <cstdint>
#include <string>

#include "cli/Args.h"

namespace edog::cli {

// -m,--method N: the package's encryption method, 0..7.
void AddMethodOption(Args& args, std::string* text);
// False after the usage error has been shown.
bool ReadMethodOption(const Args& args, const std::string& text, int& method);

// -b,--baud RATE: 115200 or 57600.
void AddBaudOption(Args& args, std::string* text);
// False after the usage error has been shown.
bool ReadBaudOption(const Args& args, const std::string& text, uint32_t& baud);

}  // namespace edog::cli
