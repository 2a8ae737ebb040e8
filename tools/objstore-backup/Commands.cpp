#include "Commands.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>

#include "HostLog.h"
#include "PerfProbe.h"
#include "PipelineFaults.h"
#include "PipelineOptions.h"
#include "Progress.h"
#include "Summary.h"

namespace objstore_host {

namespace {

const char kProgram[] = "objstore-backup";

// While it lives, SIGINT and SIGTERM set Flag() instead of ending the process.
class ScopedInterrupt {
 public:
  ScopedInterrupt() {
    Flag() = false;
    struct sigaction action = {};
    action.sa_handler = [](int) { Flag() = true; };
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
  }
  ~ScopedInterrupt() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
  }
  ScopedInterrupt(const ScopedInterrupt&) = delete;
  ScopedInterrupt& operator=(const ScopedInterrupt&) = delete;

  static std::atomic<bool>& Flag() {
    static std::atomic<bool> flag{false};
    return flag;
  }

 private:
  struct sigaction previousInt_;
  struct sigaction previousTerm_;
};

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

// Prints the summary and, on failure, the one-line reason; returns the exit status.
int Finish(const Summary& summary, const std::string& failure, const CommonOptions& common,
           std::ostream& out, std::ostream& err) {
  if (common.json) {
    out << summary.dump(2) << "\n";
  } else {
    PrintSummaryText(summary, out);
  }
  out.flush();
  if (failure.empty()) return kExitOk;
  err << kProgram << ": " << summary["command"].get<std::string>() << " failed: " << failure
      << "\n";
  return kExitFailed;
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
  if (result.notCommitted.empty()) return "";
  const std::string& first = result.notCommitted.front();
  return std::to_string(result.notCommitted.size()) + " of " + std::to_string(result.items) +
         " objects were not committed (first: " + first + ": " + result.reasons.at(first) + ")";
}

}  // namespace

int RunIngestCommand(const IngestOptions& options, const CommonOptions& common, std::ostream& out,
                     std::ostream& err) {
  if (!SetUpLogOrSay(common, "", err)) return kExitUsage;
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

int RunBackupCommand(const BackupOptions& options, const JobOptions& job,
                     const CommonOptions& common, std::ostream& out, std::ostream& err) {
  // The log goes next to the library's root; BackupRun reports a root it cannot create.
  std::error_code ignored;
  if (!options.rootBase.empty() && !std::filesystem::exists(options.rootBase, ignored)) {
    std::filesystem::create_directories(options.rootBase, ignored);
  }
  const bool haveRoot =
      !options.rootBase.empty() && std::filesystem::is_directory(options.rootBase, ignored);
  if (!SetUpLogOrSay(common, haveRoot ? options.rootBase + "/objstore-backup.log" : "", err)) {
    return kExitUsage;
  }
  std::string error;
  if (!ApplyJobOptions(job, &error)) {
    err << kProgram << ": error: " << error << "\n";
    return kExitUsage;
  }
  std::unique_ptr<PerfProbe> perf(job.perf ? new PerfProbe : nullptr);
  ProgressCounters progress;
  BackupResult result;
  {
    ProgressReporter reporter("backup", progress, Style(common), err, true);
    result = BackupRun(options, &progress).run();
  }
  Summary summary = BackupSummary(result);
  if (perf) summary["perf"] = PerfSummary(perf->figures());
  return Finish(summary, BackupFailure(result), common, out, err);
}

int RunVerifyCommand(const VerifyOptions& options, const CommonOptions& common, std::ostream& out,
                     std::ostream& err) {
  if (!SetUpLogOrSay(common, "", err)) return kExitUsage;
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

int RunRestoreCommand(const RestoreOptions& options, const CommonOptions& common, std::ostream& out,
                      std::ostream& err) {
  if (!SetUpLogOrSay(common, "", err)) return kExitUsage;
  ProgressCounters progress;
  RestoreResult result;
  {
    // Ctrl-C stops the restore between two objects, so that no temporary file is left behind.
    const ScopedInterrupt interrupt;
    RestoreOptions interruptible = options;
    interruptible.interrupt = &ScopedInterrupt::Flag();
    ProgressReporter reporter("restore", progress, Style(common), err, false);
    result = Restorer(interruptible, &progress).run();
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
  return Finish(RestoreSummary(result), failure, common, out, err);
}

int RunCheckCommand(const CheckOptions& options, const CommonOptions& common, std::ostream& out,
                    std::ostream& err) {
  if (!SetUpLogOrSay(common, "", err)) return kExitUsage;
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
  if (!walk.problems.empty()) {
    failure = std::to_string(walk.problems.size()) + " problems" + FirstOf(walk.problems);
  }
  Summary summary = CheckSummary(
      walk, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  if (!common.json) summary.erase("problems");  // printed in full above
  return Finish(summary, failure, common, out, err);
}

int RunDemoCommand(const DemoOptions& options, const JobOptions& job, const CommonOptions& common,
                   std::ostream& out, std::ostream& err) {
  // Until the demo sends the log into its workspace, only errors reach the terminal.
  if (!SetUpLogOrSay(common, "", err)) return kExitUsage;
  std::string error;
  if (!ApplyJobOptions(job, &error)) {
    err << kProgram << ": error: " << error << "\n";
    return kExitUsage;
  }
  DemoOptions demoOptions = options;
  demoOptions.logToWorkspace = common.logFile.empty() && !LogRoutedByEnvironment();
  if (common.logLevel != CommonOptions::kLevelUnset) demoOptions.logLevel = common.logLevel;
  std::unique_ptr<PerfProbe> perf(job.perf ? new PerfProbe : nullptr);
  DemoResult result = Demo(demoOptions, Style(common), err).run();
  Summary summary = DemoSummary(result);
  if (perf) summary["perf"] = PerfSummary(perf->figures());
  return Finish(summary, result.error, common, out, err);
}

}  // namespace objstore_host
