// The base directory of the library's root for the backup command: the one on the command line,
// else the one saved in the settings store. Left to itself the library falls back to "/" and
// saves that for good, so the host never lets it choose.
#ifndef OBJSTORE_HOST_ROOTBASE_H_
#define OBJSTORE_HOST_ROOTBASE_H_

#include <string>

namespace objstore_host {

// `given` when not empty, else the base saved in the settings store, else "".
std::string ChooseRootBase(const std::string& given);

// The one line that says how to give a root, for when ChooseRootBase found none.
std::string NoRootBaseMessage();

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_ROOTBASE_H_
