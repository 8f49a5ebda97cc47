#include "cli/ConsoleOutput.h"

#include <unistd.h>

namespace edog::cli {

// A terminal here takes UTF-8 as it is.
void RouteUtf8ToConsole() {}

bool OutputIsConsole() { return isatty(STDOUT_FILENO) != 0; }

}  // namespace edog::cli
