// The options the commands share, for commands defined outside this folder (serve), and the
// hook by which such a command joins the command line.
#ifndef OBJSTORE_HOST_SHAREDOPTIONS_H_
#define OBJSTORE_HOST_SHAREDOPTIONS_H_

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "Commands.h"

namespace objstore_host {

// Refuses an empty value, naming the option.
CLI::Validator NonEmpty();
// --json, --no-progress, --log, --log-level.
void AddCommonOptions(CLI::App* command, CommonOptions* common);
// --perf, --faults, --commit-items, --commit-ms, --stats, --stats-interval.
void AddJobOptions(CLI::App* command, JobOptions* job);
// --streams, --threads, --resend-rounds.
void AddStreamOptions(CLI::App* command, uint32_t* streams, uint32_t* threads,
                      uint32_t* resendRounds);
CLI::Option* AddJobOption(CLI::App* command, int64_t* jobId, const std::string& description);
// --store.
void AddStoreOption(CLI::App* command, std::string* storeDir);

// Adds a command to `app`; its callback sets `*run` when the command is chosen. `common` and
// `job` are the parsed shared options.
typedef std::function<void(CLI::App& app, CommonOptions* common, JobOptions* job,
                           std::function<int(std::ostream&, std::ostream&)>* run)>
    CommandHook;

// Registers a hook that every later RunCommandLine calls after adding its own commands. Call
// before RunCommandLine, from one thread.
void AddCommandHook(CommandHook hook);
std::vector<CommandHook>& CommandHooks();

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_SHAREDOPTIONS_H_
