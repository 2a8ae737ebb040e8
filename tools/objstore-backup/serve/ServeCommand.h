// The serve command: runs the backup service until SIGTERM or SIGINT.
#ifndef OBJSTORE_HOST_SERVE_SERVECOMMAND_H_
#define OBJSTORE_HOST_SERVE_SERVECOMMAND_H_

#include <ostream>

#include "Commands.h"
#include "ServeOptions.h"

namespace objstore_host {

// Runs the service: prints the address it listens on to `err`, serves until the first SIGTERM
// or SIGINT, then stops cleanly (BackupService::stop), prints the summary on `out` and returns
// 0; a second signal ends the process at once with ScopedInterrupt::kExitStatus. Returns
// kExitUsage or kExitFailed, with one line on `err`, when the service cannot start.
int RunServeCommand(const ServeOptions& options, const JobOptions& job, const CommonOptions& common,
                    std::ostream& out, std::ostream& err);

// Adds the serve command to the program's command line (AddCommandHook). Call once, before
// RunCommandLine.
void RegisterServeCommand();

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SERVE_SERVECOMMAND_H_
