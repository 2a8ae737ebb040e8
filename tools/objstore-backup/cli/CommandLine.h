// The command line of objstore-backup: parses the arguments (CLI11), runs the command and
// returns the exit status: 0 success, 1 the command failed, 2 the arguments are wrong. Every
// failure ends with one line on `err` that says why; no exception escapes.
#ifndef OBJSTORE_HOST_COMMANDLINE_H_
#define OBJSTORE_HOST_COMMANDLINE_H_

#include <ostream>
#include <string>
#include <vector>

namespace objstore_host {

int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// The same with the arguments after the program name.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_COMMANDLINE_H_
