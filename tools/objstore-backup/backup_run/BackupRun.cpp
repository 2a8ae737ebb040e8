#include "BackupRun.h"

#include <cerrno>
#include <chrono>
#include <exception>
#include <filesystem>
#include <thread>

#include "ErrorText.h"
#include "HostLog.h"
#include "LogWriter.h"
#include "ObjectStoreStatic.h"
#include "PipelineOptions.h"
#include "RestartRegistration.h"
#include "StatisticsText.h"
#include "StatsSampler.h"
#include "ThreadGroup.h"

namespace objstore_host {

using ObjectStore::BackupInterface;
using ObjectStore::BackupInterfacePtr;

namespace {

typedef std::chrono::steady_clock Clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

std::atomic<bool> BackupRun::gJobLeftRunning{false};

bool BackupRun::JobLeftRunning() {
  return gJobLeftRunning.load();
}

BackupRun::BackupRun(const BackupOptions& options, ProgressCounters* progress)
    : options_(options), progress_(progress) {}

BackupRun::~BackupRun() {
  finishRemoval();
}

BackupResult BackupRun::run() {
  const Clock::time_point start = Clock::now();
  finishRemoval();
  // Explains failures the library reports only by a code. It swaps the process's log writer, so
  // it lives until the removers, which log too, have stopped.
  tap_.reset(new ScopedErrorTap);
  result_ = BackupResult();
  cache_.reset(new ObjectStore::DirectoryDiskCache(options_.cacheDir));
  std::string error;
  if (!cache_->isOpen(&error)) {
    result_.error = "cannot open the disk cache [" + options_.cacheDir + "]: " + error;
    return finishRemoval();
  }
  cache_->setHighWatermark(options_.highWatermark);
  if (prepare()) {
    commits_.reset(new CommitQueue(*cache_, progress_));
    commits_->start(options_.removeThreads);
    // Progress shows the figures once a second, whatever the file's interval.
    StatsSampler sampler(
        options_.statsFile,
        options_.statsFile.empty() ? std::chrono::milliseconds(1000) : options_.statsInterval,
        progress_);
    sampler.start();
    const Clock::time_point sending = Clock::now();
    sendAll();
    result_.jobStarted = !controllers_.empty();
    if (!result_.jobStarted) {
      result_.error = "the backup job could not be started";
      if (!result_.warnings.empty()) result_.error += ": " + result_.warnings.back();
    } else {
      removeLeftovers();
      resendFailed();
      result_.interrupted = interrupted();
      endJobs();
    }
    finishStatistics(sampler);
    jobEnded_ = Clock::now();
    result_.sendAndCommitSeconds = std::chrono::duration<double>(jobEnded_ - sending).count();
    // Every notification has arrived (endBackup waited for them), so the count is final.
    account();
    result_.removalInBackground = options_.removalInBackground;
  }
  // Without removers (the job never started) this only lets go of the cache and the tap.
  if (!commits_ || !options_.removalInBackground) finishRemoval();
  result_.seconds = SecondsSince(start);
  return result_;
}

BackupResult BackupRun::finishRemoval() {
  if (commits_) finishRemovers();
  cache_.reset();
  tap_.reset();
  return result_;
}

void BackupRun::finishRemovers() {
  commits_->finish();
  result_.removalTailSeconds = SecondsSince(jobEnded_);
  result_.removed = commits_->removedCount();
  for (const std::string& problem : commits_->removalProblems()) {
    result_.warnings.push_back("committed but not removed from the cache: " + problem);
  }
  if (jobLeftRunning_) {
    // The pipeline may still deliver that job's commits to the queue, and log through the tap:
    // both stay for the rest of the process.
    static_cast<void>(commits_.release());
    static_cast<void>(tap_.release());
  }
  commits_.reset();
}

bool BackupRun::prepare() {
  if (!options_.storeDir.empty()) {
    OBJECTOPSAPI::PipelineOptions pipeline = OBJECTOPSAPI::PipelineOptions::Current();
    pipeline.storeDir = options_.storeDir;
    OBJECTOPSAPI::PipelineOptions::Override(pipeline);
  }
  if (!setUpRoot()) return false;
  result_.rootDir = ObjectStore::ObjectStoreStatic::rootDir;
  for (const ObjectStore::LeftoverJob& job : ObjectStore::LeftoverJobs::List(result_.rootDir)) {
    if (!job.problem.empty()) {
      // Whose it is cannot be told: resending is for the application that owns it.
      result_.warnings.push_back("leftover job directory [" + job.dir + "]: " + job.problem);
    } else if (job.appId == options_.appId) {
      leftovers_.push_back(job);
    } else {
      result_.leftoverDirsKept.push_back(job.dir);
    }
  }
  items_ = cache_->listSegments();
  result_.items = items_.size();
  if (progress_ != nullptr) progress_->totalItems = items_.size();
  queue_.assign(items_);
  return true;
}

bool BackupRun::setUpRoot() {
  // An empty base would let the library pick "/" and save it in the settings for good.
  if (options_.rootBase.empty()) {
    result_.error = "no root base given";
    return false;
  }
  std::error_code error;
  if (std::filesystem::exists(options_.rootBase, error) &&
      !std::filesystem::is_directory(options_.rootBase, error)) {
    result_.error = "the root base [" + options_.rootBase + "] (--root) is not a directory";
    return false;
  }
  std::filesystem::create_directories(options_.rootBase, error);
  if (error) {
    result_.error = "cannot create the root base [" + options_.rootBase + "]: " + error.message();
    return false;
  }
  LoggedErrors logged;
  if (!ObjectStore::initBackupInterace(options_.rootBase)) {
    result_.error = "cannot set up the root directory under [" + options_.rootBase + "]";
    if (!logged.first().empty()) result_.error += ": " + logged.first();
    return false;
  }
  return true;
}

void BackupRun::sendAll() {
  std::unique_ptr<RestartRegistration> restart;
  std::vector<std::thread> threads;
  if (!leftovers_.empty()) {
    OBJSTORE_LOG(1,
                 "INFO: %zu job directories of application [%d] left by an earlier run: "
                 "resending what is still in the cache",
                 leftovers_.size(), options_.appId);
    result_.restarted = true;
    restart.reset(new RestartRegistration(options_.appId));
    threads.emplace_back([this, &restart] {
      result_.restartItems = sendThread(true);
      restart->finish();
    });
  }
  for (uint32_t i = 0; i < options_.threads; ++i) {
    threads.emplace_back([this] { sendThread(false); });
  }
  for (std::thread& thread : threads) thread.join();
}

uint64_t BackupRun::sendThread(bool isRestartThread) {
  BackupInterfacePtr controller;
  LoggedErrors logged;
  CUxError error = BackupInterface::getController(makeJobInfo(), controller, isRestartThread);
  if (error.IsError()) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The first error the library logged explains a bare code; one that repeats the error's
    // own message adds nothing.
    const std::string cause = logged.first();
    const bool explains = !cause.empty() && cause.find(error.GetMessage()) == std::string::npos;
    result_.warnings.push_back("getController failed: " + ErrorText(error) +
                               (explains ? ": " + cause : ""));
    return 0;
  }
  adopt(controller);
  return sendQueued(controller);
}

void BackupRun::adopt(const BackupInterfacePtr& controller) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const BackupInterfacePtr& known : controllers_) {
    if (known == controller) return;
  }
  // Before any item goes out: a commit that met no callback would be lost to the host.
  controller->setCallBack(&CommitQueue::OnCommit, commits_.get());
  controllers_.push_back(controller);
}

uint64_t BackupRun::sendQueued(const BackupInterfacePtr& controller) {
  uint64_t sent = 0;
  std::string item;
  std::list<std::string> failedList;
  while (!interrupted() && queue_.pop(&item)) {
    ObjectStore::DiskCacheContext context;
    int64_t bytes = 0;
    CUxError error = sendOne(*controller, item, failedList, &bytes, context);
    ++sent;
    if (progress_ != nullptr) {
      ++progress_->items;
      progress_->bytes += static_cast<uint64_t>(bytes);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      result_.bytesSent += static_cast<uint64_t>(bytes);
      if (error.IsError() || !failedList.empty()) noteFailure(item, error, failedList);
    }
    if (options_.afterSend) options_.afterSend();
  }
  return sent;
}

// An exception from the pipeline or the disk cache fails the item like an error: the library
// has put the stream's items into the failed list before letting it pass.
CUxError BackupRun::sendOne(ObjectStore::BackupInterface& controller, const std::string& item,
                            std::list<std::string>& failedList, int64_t* bytes,
                            ObjectStore::DiskCacheContext& context) {
  try {
    return controller.sendItem(item.c_str(), failedList, bytes, nullptr, *cache_, context);
  } catch (const std::exception& exception) {
    return UX_ERROR(EIO, "sendItem threw: %s", exception.what());
  } catch (...) {
    return UX_ERROR(EIO, "sendItem threw an unknown exception");
  }
}

// Called with mutex_ held.
void BackupRun::noteFailure(const std::string& item, const CUxError& error,
                            std::list<std::string>& failedList) {
  if (error.IsError()) {
    ++result_.sendFailures;
    failedList.push_back(item);  // a read error leaves the list alone; the item is still ours
    lastError_[item] = ErrorText(error);
  }
  for (const std::string& name : failedList) {
    if (failed_.insert(name).second && progress_ != nullptr) ++progress_->failed;
    if (lastError_.count(name) == 0) lastError_[name] = "handed back after a failure on its stream";
    ++result_.handedBack;
  }
  failedList.clear();
}

std::vector<std::string> BackupRun::takeResendable() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> again;
  for (const std::string& item : failed_) {
    if (!commits_->isCommitted(item) && cache_->hasSegment(item)) again.push_back(item);
  }
  failed_.clear();
  return again;
}

void BackupRun::finishStatistics(StatsSampler& sampler) {
  // The jobs have left the registry: their own figures are the last word.
  ObjectStore::ProcessStatistics last = ObjectStore::GetProcessStatistics();
  last.controllers.insert(last.controllers.end(), endedStatistics_.begin(), endedStatistics_.end());
  endedStatistics_.clear();
  result_.statisticsJson = ObjectStore::StatisticsToJson(last);
  std::string error;
  if (!sampler.stop(last, &error)) result_.warnings.push_back("statistics: " + error);
}

void BackupRun::resendFailed() {
  const BackupInterfacePtr controller = controllers_.back();
  for (uint32_t round = 0; round < options_.resendRounds && !interrupted(); ++round) {
    std::vector<std::string> again = takeResendable();
    if (again.empty()) return;
    OBJSTORE_LOG(1, "INFO: resending %zu items handed back in failed lists (round %u)",
                 again.size(), round + 1);
    ++result_.resendRoundsUsed;
    result_.resent += again.size();
    queue_.assign(std::move(again));
    RunOnThreads(options_.threads, [this, &controller] { sendQueued(controller); });
  }
}

void BackupRun::endJobs() {
  for (const BackupInterfacePtr& controller : controllers_) {
    const Clock::time_point start = Clock::now();
    std::list<std::string> failedList;
    CUxError error = controller->endBackup(failedList, options_.waitForCommits);
    const Clock::time_point end = Clock::now();
    endedStatistics_.push_back(controller->statistics());
    result_.endBackupSeconds += std::chrono::duration<double>(end - start).count();
    if (error.IsError()) {
      result_.error = "endBackup failed: " + ErrorText(error);
      jobLeftRunning_ = true;
      gJobLeftRunning = true;
    }
    for (const std::string& item : failedList) {
      lastError_[item] = "its commit did not arrive before the job ended";
    }
    const Clock::time_point last = commits_->lastNotification();
    if (last != Clock::time_point()) {
      result_.lastCommitToEndMs = std::chrono::duration<double, std::milli>(end - last).count();
    }
  }
  controllers_.clear();
}

void BackupRun::removeLeftovers() {
  for (const ObjectStore::LeftoverJob& job : leftovers_) {
    // The directory of the job now running is the library's again; endBackup removes it.
    if (job.jobId == options_.jobId) continue;
    std::error_code error;
    std::filesystem::remove_all(job.dir, error);
    if (error) {
      result_.warnings.push_back("cannot remove [" + job.dir + "]: " + error.message());
    } else {
      result_.leftoverDirsRemoved.push_back(job.dir);
    }
  }
}

void BackupRun::account() {
  for (const std::string& item : items_) {
    if (commits_->isCommitted(item)) {
      ++result_.committed;
      continue;
    }
    result_.notCommitted.push_back(item);
    std::map<std::string, std::string>::const_iterator reason = lastError_.find(item);
    if (reason != lastError_.end()) {
      result_.reasons[item] = reason->second;
    } else if (!result_.jobStarted) {
      result_.reasons[item] = "not sent: the backup job did not start";
    } else {
      result_.reasons[item] =
          result_.interrupted ? "not sent: the backup was interrupted" : "no commit arrived for it";
    }
  }
}

OBJECTOPSAPI::JobInfoPtr BackupRun::makeJobInfo() const {
  // A description per request: getController writes into the one it is given.
  OBJECTOPSAPI::JobInfoPtr job(new OBJECTOPSAPI::JobInfo);
  job->numStreams = options_.streams;
  job->jobId = options_.jobId;
  job->appId = options_.appId;
  job->text1 = "objstore-backup";
  return job;
}

}  // namespace objstore_host
