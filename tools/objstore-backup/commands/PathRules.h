// Rules that keep a command's data where the user meant it: directories that must not be the
// same or nested, and a directory that may be created only where its parent already is.
#ifndef OBJSTORE_HOST_PATHRULES_H_
#define OBJSTORE_HOST_PATHRULES_H_

#include <string>

namespace objstore_host {

// Whether `path` is `dir` or lies inside it. Both are compared after links, "." and ".." are
// resolved as far as the paths exist, so another spelling of the same place still counts.
bool IsSameOrInside(const std::string& path, const std::string& dir);

// The folder the library keeps its state in when its root base is `base`: <base>/OBJECTSTORE.
std::string LibraryRootFolder(const std::string& base);

// Creates `dir` as mkdir does: its parent must exist already. `*created` says whether this
// call made it. False, with the reason in `error`, when it is missing and cannot be made, or
// exists and is not a directory.
bool MakeLastComponent(const std::string& dir, bool* created, std::string* error);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_PATHRULES_H_
