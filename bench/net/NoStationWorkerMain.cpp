// VelmarUtil with its download station's worker stopped before the command
// runs: bench/net/station.sh compares its wall time with the program's own,
// whose worker runs until the process ends. Built from the program's own
// source (util/main.cpp) with its entry renamed.
#include "net/VADDownloadStation.h"

int ProgramMain(int argc, char** argv);

int main(int argc, char** argv) {
  VADDownloadStation::Global().StopWorker();
  return ProgramMain(argc, argv);
}
