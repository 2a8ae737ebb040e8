#include "Demo.h"

#include <stdlib.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "DirectoryDiskCache.h"
#include "HostLog.h"
#include "ScopedInterrupt.h"

namespace objstore_host {

namespace {

const int64_t kDemoJobId = 1;

std::string TemporaryBase() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

std::string FirstLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size() && i < 3; ++i) text += (i == 0 ? "" : "; ") + lines[i];
  if (lines.size() > 3) text += "; ...";
  return text;
}

}  // namespace

Demo::Demo(const DemoOptions& options, ProgressStyle style, std::ostream& progressOut)
    : options_(options), style_(style), progressOut_(progressOut) {}

DemoResult Demo::run() {
  result_ = DemoResult();
  if (!makeWorkspace()) return result_;
  setenv("OBJSTORE_SETTINGS_FILE", path("settings").c_str(), 1);
  std::string unopened;  // the workspace was just made: its log can be opened
  if (options_.logToWorkspace) RouteLogToFile(path("objstore.log"), options_.logLevel, &unopened);
  const bool passed = runPhases();
  result_.workspaceKept = !options_.keepDir.empty() || (!passed && !result_.interrupted);
  if (!result_.workspaceKept) {
    std::error_code ignored;
    std::filesystem::remove_all(result_.workspace, ignored);
  }
  return result_;
}

bool Demo::makeWorkspace() {
  if (!options_.keepDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(options_.keepDir, error);
    if (error || !std::filesystem::is_empty(options_.keepDir, error) || error) {
      result_.error = "workspace: [" + options_.keepDir + "] must be an empty directory or new";
      return false;
    }
    result_.workspace = std::filesystem::absolute(options_.keepDir).string();
    return true;
  }
  std::string pattern = TemporaryBase() + "/objstore-demo-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    result_.error = "workspace: cannot create [" + pattern + "]: " + std::strerror(errno);
    return false;
  }
  result_.workspace = pattern;
  return true;
}

bool Demo::stopIfInterrupted(const std::string& phase) {
  if (!IsInterrupted(options_.interrupt)) return false;
  result_.interrupted = true;
  result_.error = phase + ": interrupted";
  return true;
}

bool Demo::runPhases() {
  ProgressCounters progress;
  const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::string error;
  DemoTreeOptions tree = options_.tree;
  tree.interrupt = options_.interrupt;
  if (!DemoTree(tree).write(path("source"), &result_.tree, &error)) {
    result_.error = "generate: " + error;
    return false;
  }
  result_.generateSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (stopIfInterrupted("generate")) return false;

  IngestOptions ingest;
  result_.phasesStarted = 1;
  ingest.sourceDir = path("source");
  ingest.cacheDir = path("cache");
  ingest.extentSize = options_.extentSize;
  ingest.threads = options_.threads;
  ingest.interrupt = options_.interrupt;
  {
    ProgressReporter reporter("ingest", progress, style_, progressOut_, false);
    result_.ingest = Ingester(ingest, &progress).run();
  }
  if (stopIfInterrupted("ingest")) return false;
  if (!result_.ingest.ok()) {
    result_.error = "ingest: " + FirstLines(result_.ingest.problems);
    return false;
  }
  // The cache's cleanup is the host's business, not the backup's: it goes on beside the
  // restore, and the backup's figures stop at the end of the job.
  BackupRun backup(backupOptions(), &progress);
  if (!runBackup(backup, progress)) {
    finishRemoval(backup);
    return false;
  }
  const bool restored = runRestore(progress);
  finishRemoval(backup);
  if (!restored) return false;

  result_.comparison = CompareTrees(path("source"), path("restore"));
  result_.compared = true;
  if (!result_.comparison.equal()) {
    result_.error = "compare: " + std::to_string(result_.comparison.differences.size()) +
                    " differences: " + FirstLines(result_.comparison.differences);
    return false;
  }
  if (result_.segmentsLeft != 0) {
    result_.error = "backup: " + std::to_string(result_.segmentsLeft) +
                    " committed objects are still in the disk cache";
    return false;
  }
  return true;
}

BackupOptions Demo::backupOptions() const {
  BackupOptions backup;
  backup.cacheDir = path("cache");
  backup.rootBase = path("root");
  backup.storeDir = path("store");
  backup.jobId = kDemoJobId;
  backup.streams = options_.streams;
  backup.threads = options_.threads;
  backup.resendRounds = options_.resendRounds;
  backup.interrupt = options_.interrupt;
  backup.afterSend = options_.afterSend;
  backup.statsFile = options_.statsFile;
  backup.statsInterval = options_.statsInterval;
  backup.removalInBackground = true;
  return backup;
}

void Demo::finishRemoval(BackupRun& backup) {
  result_.backup = backup.finishRemoval();
  result_.segmentsLeft = ObjectStore::DirectoryDiskCache(path("cache")).listSegments().size();
}

bool Demo::runBackup(BackupRun& backup, ProgressCounters& progress) {
  result_.phasesStarted = 2;
  progress.reset();
  {
    ProgressReporter reporter("backup", progress, style_, progressOut_, true);
    result_.backup = backup.run();
  }
  if (stopIfInterrupted("backup")) return false;
  if (!result_.backup.ok()) {
    result_.error = "backup: " + (result_.backup.error.empty()
                                      ? std::to_string(result_.backup.notCommitted.size()) +
                                            " objects were not committed"
                                      : result_.backup.error);
    return false;
  }
  return true;
}

bool Demo::runRestore(ProgressCounters& progress) {
  RestoreOptions restore;
  result_.phasesStarted = 3;
  restore.storeDir = path("store");
  restore.jobId = kDemoJobId;
  restore.targetDir = path("restore");
  restore.interrupt = options_.interrupt;
  progress.reset();
  {
    ProgressReporter reporter("restore", progress, style_, progressOut_, false);
    result_.restore = Restorer(restore, &progress).run();
  }
  if (stopIfInterrupted("restore")) return false;
  if (!result_.restore.ok()) {
    std::vector<std::string> problems = result_.restore.problems;
    problems.insert(problems.end(), result_.restore.walk.problems.begin(),
                    result_.restore.walk.problems.end());
    result_.error = "restore: " + FirstLines(problems);
    return false;
  }
  return true;
}

}  // namespace objstore_host
