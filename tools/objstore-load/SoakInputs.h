// SoakInputs: feed a SoakChecker from files: request logs, a backup store and a restored tree.
// Each returns false, with the reason in `error`, when its input cannot be read at all; damage
// found inside an input (a line that is no record, a store record that fails its checksum) goes
// to the checker as a problem instead.
#ifndef OBJSTORE_LOAD_SOAKINPUTS_H_
#define OBJSTORE_LOAD_SOAKINPUTS_H_

#include <string>

#include "SoakChecker.h"

namespace objstore_load {

// Every record of the request log at `path`.
bool ReadPutLog(const std::string& path, SoakChecker* checker, std::string* error);

// Every committed item that ended with success, of every run in the store.
bool ReadStoreCopies(const std::string& storeDir, SoakChecker* checker, std::string* error);

// Every regular file below `dir` (a missing directory holds none); anything else is a problem.
bool ReadRestoredTree(const std::string& dir, SoakChecker* checker, std::string* error);

}  // namespace objstore_load

#endif  // OBJSTORE_LOAD_SOAKINPUTS_H_
