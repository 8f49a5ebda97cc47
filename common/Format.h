#pragma once
// printf-style formatting into std::string: the system's texts are C format strings.
#include <string>

namespace edog {

#if defined(__MINGW32__)
// MinGW builds use its C99 printf family, not the system's older one.
__attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string Format(const char* fmt, ...);

}  // namespace edog
