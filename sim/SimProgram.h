#pragma once
// The edog-sim program (also reachable as "edogtool sim"): options, --help, start, wait
// for SIGINT/SIGTERM, stop.
#include <string>

#include "sim/Simulator.h"

namespace edog::sim {

// Parses the command line into `options`. Returns -1 to go on, or an exit status to end
// with (0 after --help or --version, 2 after a usage error, which is printed to standard error).
int ParseSimulatorArgs(int argc, char** argv, const std::string& program, SimulatorOptions& options);
std::string SimulatorHelp(const std::string& program);

// argv[0] is the program (or command) name. Ends with 1 at once when its start lines
// cannot be written; the caller finishes standard output (FinishStandardOutput).
int RunSimulatorProgram(int argc, char** argv, const std::string& program);

}  // namespace edog::sim
