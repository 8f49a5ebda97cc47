// edog-sim: the device simulator program.
#include "sim/SimProgram.h"

int main(int argc, char** argv) { return edog::sim::RunSimulatorProgram(argc, argv, "edog-sim"); }
