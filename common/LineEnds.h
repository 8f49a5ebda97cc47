#pragma once
// Multi-line controls show "\n"; the fields keep the "\r\n" the rest of the system writes.
#include <string>

namespace edog {

std::string ToControlLineEnds(const std::string& text);
std::string FromControlLineEnds(const std::string& text);

}  // namespace edog
