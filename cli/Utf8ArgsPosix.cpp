#include "cli/Utf8Args.h"

namespace edog::cli {

// The bytes as given: our paths are byte strings here.
std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace edog::cli
