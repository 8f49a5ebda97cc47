// Windows hands a program without a console no standard handles, and files opened later
// never take their place (handles are not small numbers there): nothing to guard.
#include "cli/StandardOutput.h"

namespace edog::cli {

void GuardStandardStreams() {}

}  // namespace edog::cli
