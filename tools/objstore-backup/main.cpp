// objstore-backup: the object store's backup host program. Everything but the entry point lives
// in the objstore_host library.
#include <cstdlib>
#include <iostream>

#include "BackupRun.h"
#include "CommandLine.h"
#include "ServeCommand.h"

int main(int argc, char** argv) {
  objstore_host::RegisterServeCommand();
  const int status = objstore_host::RunCommandLine(argc, argv, std::cout, std::cerr);
  if (objstore_host::BackupRun::JobLeftRunning()) {
    // A job whose end failed keeps the pipeline's threads, which would run into the static
    // destructors of the libraries they use: leave without running those.
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(status);
  }
  return status;
}
