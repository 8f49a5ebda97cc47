// Windows hands a program without a console no standard handles, and files opened later
// never take their place (handles are not small numbers there): nothing to guard.
#include "common/StandardOutput.h"

namespace edog {

void GuardStandardStreams() {}

}  // namespace edog
