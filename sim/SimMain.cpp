// edog-sim: the device simulator program.
#include "common/StandardOutput.h"
#include "sim/SimProgram.h"

int main(int argc, char** argv) {
  edog::GuardStandardStreams();
  return edog::FinishStandardOutput(edog::sim::RunSimulatorProgram(argc, argv, "edog-sim"));
}
