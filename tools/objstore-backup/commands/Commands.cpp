#include "Commands.h"

#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "HostLog.h"
#include "PathRules.h"
#include "PerfProbe.h"
#include "PipelineFaults.h"
#include "PipelineOptions.h"
#include "Progress.h"
#include "RootBase.h"
#include "RunLister.h"
#include "ScopedInterrupt.h"
#include "Summary.h"

namespace objstore_host {

namespace {

const char kProgram[] = "objstore-backup";

const char kInterruptNotice[] =
    "interrupted: finishing the items in flight; press Ctrl-C again to stop at once\n";

// A count from 1 to `max` in decimal digits, nothing else (the command line's number rules live
// above this layer).
bool ReadSeamCount(const char* text, uint64_t max, uint64_t* value) {
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long read = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || read < 1 || read > max) return false;
  *value = read;
  return true;
}

// A test seam: with OBJSTORE_BACKUP_INTERRUPT_AFTER=N the process raises SIGINT in the thread
// that completed the N-th send, so that tests interrupt a job at a known point without timing;
// OBJSTORE_BACKUP_INTERRUPT_SIGNALS=K raises it K times at once, as one press sent to the
// process and to its group arrives.
std::function<void()> InterruptSeam() {
  const char* text = std::getenv("OBJSTORE_BACKUP_INTERRUPT_AFTER");
  const char* copiesText = std::getenv("OBJSTORE_BACKUP_INTERRUPT_SIGNALS");
  uint64_t after = 0;
  uint64_t copies = 1;
  if (text == nullptr || !ReadSeamCount(text, UINT64_MAX, &after)) return nullptr;
  if (copiesText != nullptr) ReadSeamCount(copiesText, 10, &copies);
  std::shared_ptr<std::atomic<uint64_t>> sent = std::make_shared<std::atomic<uint64_t>>(0);
  return [sent, after, copies] {
    if (++*sent != after) return;
    for (uint64_t i = 0; i < copies; ++i) raise(SIGINT);
  };
}

// Fault plans from the environment are refused as --faults is: a typo must not run a drill
// without its faults. False, with one line on `err`.
bool EnvironmentFaultsValid(bool pipeline, std::ostream& err) {
  const char* spec = std::getenv("OBJSTORE_PIPELINE_FAULTS");
  if (pipeline && spec != nullptr && *spec != '\0') {
    const CUxError error = OBJECTOPSAPI::PipelineFaults::Validate(spec);
    if (error.IsError()) {
      err << kProgram << ": error: invalid OBJSTORE_PIPELINE_FAULTS [" << spec
          << "]: " << error.GetMessage() << "\n";
      return false;
    }
  }
  spec = std::getenv("OBJSTORE_DISKCACHE_FAULTS");
  uint64_t ignored = 0;
  std::string why;
  if (spec != nullptr && *spec != '\0' &&
      !ObjectStore::DirectoryDiskCache::ParseFaults(spec, &ignored, &why)) {
    err << kProgram << ": error: invalid OBJSTORE_DISKCACHE_FAULTS [" << spec << "]: " << why
        << "\n";
    return false;
  }
  return true;
}

// One line on `err` and false when `inner` is `outer` or inside it.
bool Apart(const std::string& inner, const char* innerName, const std::string& outer,
           const char* outerName, std::ostream& err) {
  if (!IsSameOrInside(inner, outer)) return true;
  err << kProgram << ": error: " << innerName << " [" << inner << "] is "
      << (IsSameOrInside(outer, inner) ? "the same directory as " : "inside ") << outerName << " ["
      << outer << "]\n";
  return false;
}

// The library's log: where the user said, else where the environment says, else `defaultFile`,
// else errors only on standard error (so that the terminal stays readable). False, with the
// reason in `error`, when the file the user named cannot be opened.
bool SetUpLog(const CommonOptions& common, const std::string& defaultFile, std::string* error) {
  const int level =
      common.logLevel == CommonOptions::kLevelUnset ? kDefaultLogLevel : common.logLevel;
  if (common.logFile == "-") {
    RouteLogToStderr(level);
  } else if (!common.logFile.empty()) {
    return RouteLogToFile(common.logFile, level, error);
  } else if (LogRoutedByEnvironment()) {
    RouteLogByEnvironment();
  } else if (defaultFile.empty() || !RouteLogToFile(defaultFile, level, error)) {
    RouteLogToStderr(common.logLevel == CommonOptions::kLevelUnset ? -1 : level);
  }
  return true;
}

// Routes the log; on failure says why on `err` and returns false.
bool SetUpLogOrSay(const CommonOptions& common, const std::string& defaultFile, std::ostream& err) {
  std::string error;
  if (SetUpLog(common, defaultFile, &error)) return true;
  err << kProgram << ": error: --log: " << error << "\n";
  return false;
}

ProgressStyle Style(const CommonOptions& common) {
  return ProgressReporter::StyleForStderr(!common.noProgress);
}

std::string FirstOf(const std::vector<std::string>& lines) {
  return lines.empty() ? std::string() : " (first: " + lines.front() + ")";
}

// Prints the summary and, on failure, the one-line reason; returns the exit status, which is
// `failureStatus` on failure.
int Finish(const Summary& summary, const std::string& failure, const CommonOptions& common,
           std::ostream& out, std::ostream& err, int failureStatus = kExitFailed) {
  if (common.json) {
    out << summary.dump(2) << "\n";
  } else {
    PrintSummaryText(summary, out);
  }
  out.flush();
  if (failure.empty()) return kExitOk;
  err << kProgram << ": " << summary["command"].get<std::string>() << " failed: " << failure
      << "\n";
  return failureStatus;
}

// Installs the fault plan and the commit settings for jobs started from now on. False, with
// the reason in `error`, for a malformed fault plan.
bool ApplyJobOptions(const JobOptions& job, std::string* error) {
  if (!job.faults.empty()) {
    CUxError installed = OBJECTOPSAPI::PipelineFaults::Install(job.faults);
    if (installed.IsError()) {
      *error = "invalid --faults [" + job.faults + "]: " + installed.GetMessage();
      return false;
    }
  }
  if (job.commitItems >= 0 || job.commitMs >= 0) {
    OBJECTOPSAPI::PipelineOptions pipeline = OBJECTOPSAPI::PipelineOptions::Current();
    if (job.commitItems >= 0) pipeline.commitItems = static_cast<uint64_t>(job.commitItems);
    if (job.commitMs >= 0) pipeline.commitMs = static_cast<uint64_t>(job.commitMs);
    OBJECTOPSAPI::PipelineOptions::Override(pipeline);
  }
  return true;
}

std::string BackupFailure(const BackupResult& result) {
  if (!result.error.empty()) return result.error;
  if (result.interrupted) {
    return "interrupted: " + std::to_string(result.committed) + " of " +
           std::to_string(result.items) + " objects committed; run it again to send the other " +
           std::to_string(result.notCommitted.size());
  }
  if (result.notCommitted.empty()) return "";
  const std::string& first = result.notCommitted.front();
  return std::to_string(result.notCommitted.size()) + " of " + std::to_string(result.items) +
         " objects were not committed (first: " + first + ": " + result.reasons.at(first) + ")";
}

void PrintRunLines(const std::vector<RunLine>& lines, std::ostream& out) {
  char text[256];
  std::snprintf(text, sizeof(text), "%-6s %-28s %8s %10s  %-17s %s\n", "job", "run", "items",
                "committed", "status", "time");
  out << text;
  for (const RunLine& line : lines) {
    std::snprintf(text, sizeof(text), "%-6lld %-28s %8llu %10llu  %-17s %s\n",
                  static_cast<long long>(line.jobId), line.runId.c_str(),
                  static_cast<unsigned long long>(line.items),
                  static_cast<unsigned long long>(line.committed), line.status.c_str(),
                  RunLister::LocalTime(line.time).c_str());
    out << text;
  }
}

Summary RunLinesJson(const std::vector<RunLine>& lines) {
  Summary list = Summary::array();
  for (const RunLine& line : lines) {
    Summary entry;
    entry["job"] = line.jobId;
    entry["run"] = line.runId;
    entry["items"] = line.items;
    entry["committed"] = line.committed;
    entry["status"] = line.status;
    entry["problems"] = line.damaged;
    entry["time"] = RunLister::LocalTime(line.time);
    list.push_back(entry);
  }
  return list;
}

}  // namespace

int ResolveStoreDir(const std::string& givenDir, std::string* storeDir, std::ostream& err,
                    bool mustExist) {
  const std::string given = givenDir;  // `storeDir` may be the same string
  const char* fromEnvironment = std::getenv("OBJSTORE_PIPELINE_STORE");
  *storeDir = given.empty() ? OBJECTOPSAPI::PipelineOptions::ResolveStoreDir() : given;
  if (given.empty() && (fromEnvironment == nullptr || *fromEnvironment == '\0') &&
      *storeDir == OBJECTOPSAPI::PipelineOptions::kDefaultStoreDir) {
    // Never a store nobody named: it may hold another user's backups, or none at all.
    err << kProgram
        << ": error: no store given: give --store DIR, or set OBJSTORE_PIPELINE_STORE\n";
    return kExitUsage;
  }
  std::error_code ignored;
  if (std::filesystem::is_directory(*storeDir, ignored)) return kExitOk;
  const bool exists = std::filesystem::exists(*storeDir, ignored);
  if (!exists && !mustExist) return kExitOk;
  err << kProgram << ": error: the store [" << *storeDir << "] "
      << (exists ? "is not a directory" : "does not exist") << "\n";
  return exists ? kExitUsage : kExitFailed;
}

int RunIngestCommand(const IngestOptions& options, const CommonOptions& common, std::ostream& out,
                     std::ostream& err) {
  if (!SetUpLogOrSay(common, "", err)) return kExitUsage;
  if (!EnvironmentFaultsValid(false, err)) return kExitUsage;
  if (!Apart(options.cacheDir, "the cache", options.sourceDir, "the source tree", err)) {
    return kExitUsage;
  }
  uint64_t ignored = 0;
  std::string why;
  if (!options.faults.empty() &&
      !ObjectStore::DirectoryDiskCache::ParseFaults(options.faults, &ignored, &why)) {
    err << kProgram << ": error: invalid --faults [" << options.faults << "]: " << why << "\n";
    return kExitUsage;
  }
  ProgressCounters progress;
  IngestResult result;
  {
    ProgressReporter reporter("ingest", progress, Style(common), err, false);
    result = Ingester(options, &progress).run();
  }
  const std::string failure =
      result.ok() ? ""
                  : std::to_string(result.problems.size()) + " problems" + FirstOf(result.problems);
  return Finish(IngestSummary(result), failure, common, out, err);
}

static std::chrono::milliseconds StatsInterval(const JobOptions& job) {
  return std::chrono::milliseconds(static_cast<int64_t>(job.statsIntervalSeconds * 1000));
}

// The directories of a backup must stay apart: a store or root inside the cache would be backed
// up or cleaned as segments, a root inside the store would be read as runs. The library writes
// under <base>/OBJECTSTORE, not the base itself, so that folder is compared too: a base outside
// the store may still put it there.
static bool BackupDirsApart(const BackupOptions& o, std::ostream& err) {
  const char* root = "the root base (--root)";
  const char* folder = "the root folder (--root's OBJECTSTORE)";
  const std::string rootFolder = LibraryRootFolder(o.rootBase);
  return Apart(o.storeDir, "the store", o.cacheDir, "the cache", err) &&
         Apart(o.cacheDir, "the cache", o.storeDir, "the store", err) &&
         Apart(o.rootBase, root, o.cacheDir, "the cache", err) &&
         Apart(o.rootBase, root, o.storeDir, "the store", err) &&
         Apart(rootFolder, folder, o.cacheDir, "the cache", err) &&
         Apart(rootFolder, folder, o.storeDir, "the store", err);
}

// The store, the root, the job options and the log of a backup; an exit status and one line on
// `err` when the arguments do not allow a backup. Runs before any progress is shown.
int PrepareBackup(const JobOptions& job, const CommonOptions& common, BackupOptions* options,
                  bool* rootCreated, std::ostream& err) {
  options->rootBase = ChooseRootBase(options->rootBase);
  if (options->rootBase.empty()) {
    err << kProgram << ": error: " << NoRootBaseMessage() << "\n";
    return kExitUsage;
  }
  if (const int status = ResolveStoreDir(options->storeDir, &options->storeDir, err, false)) {
    return status;
  }
  if (!BackupDirsApart(*options, err)) return kExitUsage;
  // Like mkdir: a mistyped parent must not grow a whole new tree somewhere.
  std::string error;
  if (!MakeLastComponent(options->rootBase, rootCreated, &error)) {
    err << kProgram << ": error: the root base (--root): " << error << "\n";
    return kExitUsage;
  }
  // The log goes next to the library's root.
  if (!SetUpLogOrSay(common, options->rootBase + "/objstore-backup.log", err)) return kExitUsage;
  if (!EnvironmentFaultsValid(true, err)) return kExitUsage;
  if (!ApplyJobOptions(job, &error)) {  // after the log is routed: installing a plan logs it
    err << kProgram << ": error: " << error << "\n";
    return kExitUsage;
  }
  return kExitOk;
}

int RunBackupCommand(const BackupOptions& given, const JobOptions& job, const CommonOptions& common,
                     std::ostream& out, std::ostream& err) {
  BackupOptions options = given;
  bool rootCreated = false;
  if (const int status = PrepareBackup(job, common, &options, &rootCreated, err)) return status;
  options.statsFile = job.statsFile;
  options.statsInterval = StatsInterval(job);
  std::unique_ptr<PerfProbe> perf(job.perf ? new PerfProbe : nullptr);
  ProgressCounters progress;
  BackupResult result;
  {
    const ScopedInterrupt interrupt(kInterruptNotice);
    options.interrupt = &ScopedInterrupt::Flag();
    options.afterSend = InterruptSeam();
    ProgressReporter reporter("backup", progress, Style(common), err, true);
    result = BackupRun(options, &progress).run();
  }
  Summary summary = BackupSummary(result);
  if (rootCreated) summary["root_base_created"] = options.rootBase;
  if (perf) summary["perf"] = PerfSummary(perf->figures());
  return Finish(summary, BackupFailure(result), common, out, err,
                result.interrupted ? ScopedInterrupt::kExitStatus : kExitFailed);
}

int RunVerifyCommand(const VerifyOptions& given, const CommonOptions& common, std::ostream& out,
                     std::ostream& err) {
  if (!SetUpLogOrSay(common, "", err)) return kExitUsage;
  VerifyOptions options = given;
  if (const int status = ResolveStoreDir(given.storeDir, &options.storeDir, err)) return status;
  ProgressCounters progress;
  VerifyResult result;
  {
    ProgressReporter reporter("verify", progress, Style(common), err, false);
    result = Verifier(options, &progress).run();
  }
  std::string failure;
  if (!result.noRuns.empty()) {
    failure = result.noRuns;
  } else if (!result.ok()) {
    std::vector<std::string> lines = result.problems;
    lines.insert(lines.end(), result.walk.problems.begin(), result.walk.problems.end());
    lines.insert(lines.end(), result.missing.begin(), result.missing.end());
    lines.insert(lines.end(), result.mismatched.begin(), result.mismatched.end());
    failure = std::to_string(result.problems.size() + result.walk.problems.size()) + " problems, " +
              std::to_string(result.missing.size()) + " missing, " +
              std::to_string(result.mismatched.size()) + " mismatched of " +
              std::to_string(result.sourceObjects) + " objects" + FirstOf(lines);
  }
  return Finish(VerifySummary(result), failure, common, out, err);
}

int RunRestoreCommand(const RestoreOptions& given, const CommonOptions& common, std::ostream& out,
                      std::ostream& err) {
  if (!SetUpLogOrSay(common, "", err)) return kExitUsage;
  RestoreOptions options = given;
  if (const int status = ResolveStoreDir(given.storeDir, &options.storeDir, err)) return status;
  if (!Apart(options.targetDir, "the target (--to)", options.storeDir, "the store", err)) {
    return kExitUsage;
  }
  ProgressCounters progress;
  RestoreResult result;
  {
    // Ctrl-C stops the restore between two objects, so that no temporary file is left behind.
    const ScopedInterrupt interrupt;
    options.interrupt = &ScopedInterrupt::Flag();
    ProgressReporter reporter("restore", progress, Style(common), err, false);
    result = Restorer(options, &progress).run();
  }
  std::vector<std::string> lines = result.problems;
  lines.insert(lines.end(), result.walk.problems.begin(), result.walk.problems.end());
  std::string failure;
  if (!lines.empty()) failure = std::to_string(lines.size()) + " problems" + FirstOf(lines);
  if (!result.skipped.empty()) {
    failure += std::string(failure.empty() ? "" : "; ") + std::to_string(result.skipped.size()) +
               " existing files not replaced" + FirstOf(result.skipped);
  }
  if (result.interrupted) {
    failure = "interrupted after " + std::to_string(result.objects) +
              " objects; run it again to complete the tree" +
              (failure.empty() ? "" : " (" + failure + ")");
  }
  return Finish(RestoreSummary(result), failure, common, out, err,
                result.interrupted ? ScopedInterrupt::kExitStatus : kExitFailed);
}

// What a kill leaves and what another writer stored are no damage to committed objects: a
// warning each, and the status stays that of the damage found.
static void WarnOfWhatIsNoDamage(const WalkStats& walk, std::ostream& err) {
  for (const std::string& path : walk.leftovers) {
    err << kProgram << ": check: warning: [" << path
        << "] was left by an interrupted write; the next backup job removes it\n";
  }
  if (walk.foreignCopies != 0) {
    err << kProgram << ": check: warning: " << walk.foreignCopies
        << " copies carry metadata in another writer's format, which this program cannot read; "
           "their records, headers and sizes are proven\n";
  }
}

int RunCheckCommand(const CheckOptions& given, const CommonOptions& common, std::ostream& out,
                    std::ostream& err) {
  if (!SetUpLogOrSay(common, "", err)) return kExitUsage;
  CheckOptions options = given;
  if (const int status = ResolveStoreDir(given.storeDir, &options.storeDir, err)) return status;
  const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  WalkStats walk;
  const bool listed = StoreWalker(options.storeDir)
                          .walk(
                              options.jobId, options.allJobs, [](const StoredCopy&) {}, &walk);
  std::string failure;
  if (listed && walk.runs == 0) {
    walk.problems.push_back("the store [" + options.storeDir + "] holds no run" +
                            (options.allJobs ? "s" : " of job " + std::to_string(options.jobId)));
  }
  if (!common.json) {
    for (const std::string& problem : walk.problems) out << problem << "\n";
  }
  WarnOfWhatIsNoDamage(walk, err);
  if (!walk.problems.empty()) {
    failure = std::to_string(walk.problems.size()) + " problems" + FirstOf(walk.problems);
  }
  Summary summary = CheckSummary(
      walk, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  if (!common.json) summary.erase("problems");  // printed in full above
  return Finish(summary, failure, common, out, err);
}

int RunListCommand(const ListOptions& options, const CommonOptions& common, std::ostream& out,
                   std::ostream& err) {
  if (!SetUpLogOrSay(common, "", err)) return kExitUsage;
  std::string storeDir;
  if (const int status = ResolveStoreDir(options.storeDir, &storeDir, err)) return status;
  std::vector<RunLine> lines;
  std::string error;
  if (!RunLister(storeDir).list(options.jobId, options.allJobs, &lines, &error)) {
    err << kProgram << ": list failed: " << error << "\n";
    return kExitFailed;
  }
  if (common.json) {
    out << RunLinesJson(lines).dump(2) << "\n";
  } else {
    PrintRunLines(lines, out);
  }
  // As check fails on the same store: no run to list, or damage in one.
  size_t damaged = 0;
  for (const RunLine& line : lines) damaged += line.damaged != 0 ? 1 : 0;
  if (lines.empty()) {
    err << kProgram << ": list failed: the store [" << storeDir << "] holds no run"
        << (options.allJobs ? "s" : " of job " + std::to_string(options.jobId)) << "\n";
    return kExitFailed;
  }
  if (damaged != 0) {
    err << kProgram << ": list failed: " << damaged << " of " << lines.size()
        << " runs are damaged (check tells where)\n";
    return kExitFailed;
  }
  return kExitOk;
}

int RunDemoCommand(const DemoOptions& options, const JobOptions& job, const CommonOptions& common,
                   std::ostream& out, std::ostream& err) {
  // Until the demo sends the log into its workspace, only errors reach the terminal.
  if (!SetUpLogOrSay(common, "", err)) return kExitUsage;
  if (!EnvironmentFaultsValid(true, err)) return kExitUsage;
  std::string error;
  if (!ApplyJobOptions(job, &error)) {
    err << kProgram << ": error: " << error << "\n";
    return kExitUsage;
  }
  DemoOptions demoOptions = options;
  demoOptions.statsFile = job.statsFile;
  demoOptions.statsInterval = StatsInterval(job);
  demoOptions.logToWorkspace = common.logFile.empty() && !LogRoutedByEnvironment();
  if (common.logLevel != CommonOptions::kLevelUnset) demoOptions.logLevel = common.logLevel;
  std::unique_ptr<PerfProbe> perf(job.perf ? new PerfProbe : nullptr);
  DemoResult result;
  {
    const ScopedInterrupt interrupt(kInterruptNotice);
    demoOptions.interrupt = &ScopedInterrupt::Flag();
    demoOptions.afterSend = InterruptSeam();
    result = Demo(demoOptions, Style(common), err).run();
  }
  Summary summary = DemoSummary(result);
  if (perf) summary["perf"] = PerfSummary(perf->figures());
  return Finish(summary, result.error, common, out, err,
                result.interrupted ? ScopedInterrupt::kExitStatus : kExitFailed);
}

}  // namespace objstore_host
