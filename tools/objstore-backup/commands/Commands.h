// The commands of the host program, each run from parsed options: they route the log, show
// progress on standard error, print a summary (text or JSON) on standard output and return the
// exit status.
#ifndef OBJSTORE_HOST_COMMANDS_H_
#define OBJSTORE_HOST_COMMANDS_H_

#include <climits>
#include <cstdint>
#include <ostream>
#include <string>

#include "BackupRun.h"
#include "Demo.h"
#include "Ingester.h"
#include "Restorer.h"
#include "Verifier.h"

namespace objstore_host {

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// The store directory a command uses: `given`, else OBJSTORE_PIPELINE_STORE, else the settings;
// never the pipeline's built-in default, which nobody chose. Returns kExitOk, or the exit status
// with one line on `err`: no store given (kExitUsage), not a directory (kExitUsage), missing when
// `mustExist` (kExitFailed).
int ResolveStoreDir(const std::string& given, std::string* storeDir, std::ostream& err,
                    bool mustExist = true);

// Options every command takes.
struct CommonOptions {
  static constexpr int kLevelUnset = INT_MIN;
  bool json = false;
  bool noProgress = false;
  std::string logFile;  // "-": standard error
  int logLevel = kLevelUnset;
};

// The runs of a store that a command reads: every run, or one job's.
struct RunSelection {
  std::string storeDir;
  int64_t jobId = 0;
  bool allJobs = true;  // else only the runs of jobId
};
typedef RunSelection CheckOptions;
typedef RunSelection ListOptions;

// Options of the commands that run a backup job.
struct JobOptions {
  bool perf = false;
  std::string faults;        // a fault plan for the pipeline stand-in (PipelineFaults syntax)
  int64_t commitItems = -1;  // -1: the pipeline's own setting
  int64_t commitMs = -1;
  std::string statsFile;            // the library's statistics, rewritten every interval
  double statsIntervalSeconds = 5;  // of the statistics file
};

// What a command that runs backup jobs does before it starts: resolves the root base and the
// store, checks the directories are apart, creates the root base's last part, routes the log
// and applies the job options. Returns kExitOk, or the exit status with one line on `err`.
int PrepareBackup(const JobOptions& job, const CommonOptions& common, BackupOptions* options,
                  bool* rootCreated, std::ostream& err);

int RunIngestCommand(const IngestOptions& options, const CommonOptions& common, std::ostream& out,
                     std::ostream& err);
int RunBackupCommand(const BackupOptions& options, const JobOptions& job,
                     const CommonOptions& common, std::ostream& out, std::ostream& err);
int RunVerifyCommand(const VerifyOptions& options, const CommonOptions& common, std::ostream& out,
                     std::ostream& err);
int RunRestoreCommand(const RestoreOptions& options, const CommonOptions& common, std::ostream& out,
                      std::ostream& err);
int RunCheckCommand(const CheckOptions& options, const CommonOptions& common, std::ostream& out,
                    std::ostream& err);
int RunListCommand(const ListOptions& options, const CommonOptions& common, std::ostream& out,
                   std::ostream& err);
int RunDemoCommand(const DemoOptions& options, const JobOptions& job, const CommonOptions& common,
                   std::ostream& out, std::ostream& err);

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_COMMANDS_H_
