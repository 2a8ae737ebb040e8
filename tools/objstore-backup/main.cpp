// objstore-backup: the object store's backup host program. Everything but the entry point lives
// in the objstore_host library.
#include <iostream>

#include "CommandLine.h"

int main(int argc, char** argv) {
  return objstore_host::RunCommandLine(argc, argv, std::cout, std::cerr);
}
