#pragma once
// `edog --help` and `edog --version`: answered before any window or display is needed.
#include <cstdio>
#include <optional>

namespace edog {

// The exit status when the arguments ask for help or the version (printed to `out`);
// nothing for any other arguments, which the window ignores as it always has.
std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::FILE* out);

}  // namespace edog
