#pragma once
// printf-style formatting into std::string: the system's texts are C format strings.
#include <string>

namespace edog {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string Format(const char* fmt, ...);

}  // namespace edog
