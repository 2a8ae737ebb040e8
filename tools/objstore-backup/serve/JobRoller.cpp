#include "JobRoller.h"

#include <cerrno>
#include <exception>
#include <filesystem>
#include <thread>

#include "ErrorText.h"
#include "HostLog.h"
#include "JobInfo.h"
#include "LogWriter.h"
#include "RestartRegistration.h"

namespace objstore_host {

using ObjectStore::BackupInterface;
using ObjectStore::BackupInterfacePtr;
using ObjectStore::RestartRegistration;

namespace {

typedef std::chrono::steady_clock Clock;

const int kEndAttempts = 3;

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

JobRoller::JobRoller(const RollerOptions& options, ObjectStore::DirectoryDiskCache& cache,
                     Catalog& catalog, ServeMetrics& metrics, CommitWaiters& waiters)
    : options_(options), cache_(cache), catalog_(catalog), metrics_(metrics), waiters_(waiters) {}

JobRoller::~JobRoller() {
  stop();
}

void JobRoller::start(const std::vector<ObjectStore::LeftoverJob>& leftovers) {
  leftovers_ = leftovers;
  committer_ = std::thread(&JobRoller::commitLoop, this);
  roller_ = std::thread(&JobRoller::rollLoop, this);
}

void JobRoller::enqueue(const std::string& id, Clock::time_point putStart) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Tracked& tracked = known_[id];
    tracked.putStart = putStart;
    queue_.push_back(id);
  }
  queueChanged_.notify_all();
}

void JobRoller::stop() {
  std::call_once(stopped_, [this] {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    queueChanged_.notify_all();
    if (roller_.joinable()) roller_.join();
    // Every job has ended and waited for its commits: what arrives now is all there is.
    {
      std::lock_guard<std::mutex> lock(commitMutex_);
      commitsStopping_ = true;
    }
    commitsArrived_.notify_all();
    if (committer_.joinable()) committer_.join();
    waiters_.failAll("the service is stopping; the object stays in the cache");
  });
}

std::vector<std::string> JobRoller::problems() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return problems_;
}

size_t JobRoller::queued() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

void JobRoller::addProblem(const std::string& problem) {
  OBJSTORE_LOG(-1, "ERROR: %s", problem.c_str());
  std::lock_guard<std::mutex> lock(mutex_);
  problems_.push_back(problem);
}

void JobRoller::rollLoop() {
  bool restart = !leftovers_.empty();
  // While stopping, what the last jobs handed back goes into a few more jobs: a clean stop
  // leaves nothing in the cache unless the pipeline keeps failing.
  uint32_t jobsWhileStopping = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_ && (queue_.empty() || jobsWhileStopping > options_.resendRounds)) return;
      if (stopping_) ++jobsWhileStopping;
    }
    if (runJob(restart)) {
      restart = false;
      continue;
    }
    if (jobsWhileStopping > 0) return;  // no job starts now: the cache keeps the rest
    // A job that cannot start now may start later (the pipeline recovers): retry in a while,
    // unless asked to stop.
    std::unique_lock<std::mutex> lock(mutex_);
    queueChanged_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; });
    if (stopping_) return;
  }
}

BackupInterfacePtr JobRoller::startJob(int64_t jobId, bool restart) {
  OBJECTOPSAPI::JobInfoPtr job(new OBJECTOPSAPI::JobInfo);
  job->numStreams = options_.streams;
  job->jobId = jobId;
  job->appId = options_.appId;
  job->text1 = "objstore-backup serve";
  BackupInterfacePtr controller;
  LoggedErrors logged;
  CUxError error = BackupInterface::getController(job, controller, restart);
  if (error.IsError()) {
    const std::string cause = logged.first();
    addProblem("job " + std::to_string(jobId) + " could not start: " + ErrorText(error) +
               (cause.empty() ? "" : ": " + cause));
    return BackupInterfacePtr();
  }
  return controller;
}

bool JobRoller::runJob(bool restart) {
  const int64_t jobId = catalog_.takeJobId(options_.firstJobId);
  if (jobId == 0) {
    addProblem("cannot record the next job id in the catalog");
    return false;
  }
  // The restart registration makes any other getController of the application wait until the
  // restart job has taken over what the dead process left.
  std::unique_ptr<RestartRegistration> registration;
  if (restart) registration.reset(new RestartRegistration(options_.appId));
  BackupInterfacePtr controller = startJob(jobId, restart);
  if (!controller) return false;
  // Before any item goes out: a commit that met no callback would be lost to the service.
  controller->setCallBack(&JobRoller::OnCommit, this);
  currentJob_ = jobId;
  ++metrics_.jobsStarted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sentInJob_ = 0;
  }
  const Clock::time_point deadline = Clock::now() + options_.jobTime;
  std::vector<std::thread> senders;
  for (uint32_t i = 0; i < std::max(1u, options_.threads); ++i) {
    senders.emplace_back(
        [this, &controller, jobId, deadline] { sendLoop(*controller, jobId, deadline); });
  }
  for (std::thread& sender : senders) sender.join();
  if (registration) {
    removeLeftovers(jobId);
    registration->finish();
  }
  std::list<std::string> failedList;
  CUxError error = endJob(*controller, jobId, &failedList);
  if (error.IsError()) {
    addProblem("job " + std::to_string(jobId) + " did not end cleanly: " + ErrorText(error));
  }
  handBack(failedList, "its commit did not arrive before job " + std::to_string(jobId) + " ended");
  currentJob_ = 0;
  ++metrics_.jobsEnded;
  ++jobsEnded_;
  return true;
}

CUxError JobRoller::endJob(BackupInterface& controller, int64_t jobId,
                           std::list<std::string>* failedList) {
  // A pipeline that cannot end the job hands nothing back and keeps the items; the end may be
  // tried again. After the last failure the job is left for a restart to resend.
  CUxError error;
  for (int attempt = 1; attempt <= kEndAttempts; ++attempt) {
    error = controller.endBackup(*failedList, true);
    if (!error.IsError() || error.GetErrorCode() == ObjectStore::kErrNoCommitInTime) break;
    OBJSTORE_LOG(-1, "ERROR: job %lld could not end (attempt %d of %d): %s",
                 static_cast<long long>(jobId), attempt, kEndAttempts, ErrorText(error).c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(100 * attempt));
  }
  return error;
}

bool JobRoller::takeNext(Clock::time_point deadline, std::string* id) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (sentInJob_ >= options_.jobObjects) return false;
    // While stopping no PUT is taken any more: what is queued goes out, then the job ends.
    if (!queue_.empty()) {
      *id = std::move(queue_.front());
      queue_.pop_front();
      ++sentInJob_;
      return true;
    }
    if (stopping_) return false;
    if (queueChanged_.wait_until(lock, deadline) == std::cv_status::timeout) return false;
  }
}

void JobRoller::sendLoop(BackupInterface& controller, int64_t jobId, Clock::time_point deadline) {
  std::string id;
  while (Clock::now() < deadline && takeNext(deadline, &id)) {
    std::list<std::string> failedList;
    int64_t bytes = 0;
    int stream = -1;
    ObjectStore::DiskCacheContext context;
    CUxError error;
    try {
      error = controller.sendItem(id.c_str(), failedList, &bytes, &stream, cache_, context);
    } catch (const std::exception& exception) {
      error = UX_ERROR(EIO, "sendItem threw: %s", exception.what());
    } catch (...) {
      error = UX_ERROR(EIO, "sendItem threw an unknown exception");
    }
    if (!error.IsError()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = known_.find(id);
        if (found != known_.end()) {
          found->second.job = jobId;
          found->second.stream = stream;
        }
      }
      catalog_.markInJob(id, jobId, stream);
    } else if (failedList.empty() && !cache_.hasSegment(id)) {
      // Its segment left the cache (a commit settled it meanwhile): nothing to send.
      std::lock_guard<std::mutex> lock(mutex_);
      known_.erase(id);
      continue;
    } else if (failedList.empty()) {
      failedList.push_back(id);  // not taken by the stream: still ours to send again
    }
    if (!failedList.empty()) {
      handBack(failedList,
               error.IsError() ? ErrorText(error) : "handed back after a failure on its stream");
    }
  }
}

void JobRoller::handBack(const std::list<std::string>& items, const std::string& reason) {
  for (const std::string& id : items) {
    uint32_t handBacks = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = known_.find(id);
      if (found == known_.end()) continue;  // committed meanwhile
      handBacks = ++found->second.handBacks;
      queue_.push_back(id);
    }
    ++metrics_.resends;
    catalog_.markHandedBack(id, reason);
    if (handBacks > options_.resendRounds) {
      CommitOutcome outcome;
      outcome.error = "handed back " + std::to_string(handBacks) + " times (" + reason +
                      "); it stays in the cache and is tried again";
      waiters_.deliver(id, outcome);
    }
  }
  if (!items.empty()) queueChanged_.notify_all();
}

void JobRoller::OnCommit(uint32_t /*aFileId*/, std::list<std::string> committedItems,
                         void* context) {
  JobRoller* roller = static_cast<JobRoller*>(context);
  {
    std::lock_guard<std::mutex> lock(roller->commitMutex_);
    for (std::string& item : committedItems) roller->commits_.push_back(std::move(item));
  }
  roller->commitsArrived_.notify_one();
}

void JobRoller::commitLoop() {
  std::unique_lock<std::mutex> lock(commitMutex_);
  for (;;) {
    commitsArrived_.wait(lock, [this] { return commitsStopping_ || !commits_.empty(); });
    if (commits_.empty()) return;
    std::vector<std::string> batch;
    batch.swap(commits_);
    lock.unlock();
    settleCommits(batch);
    lock.lock();
  }
}

void JobRoller::settleCommits(std::vector<std::string>& ids) {
  const double now = WallSeconds();
  uint64_t ticket = 0;
  for (const std::string& id : ids) ticket = catalog_.markCommitted(id, now);
  std::string error;
  // The segment leaves the cache only once the catalog says committed: after a crash, a row
  // whose segment is gone is then known to be lost, not committed.
  if (!catalog_.wait(ticket, &error)) {
    addProblem("commits not recorded, segments kept: " + error);
    return;
  }
  const Clock::time_point reported = Clock::now();
  for (const std::string& id : ids) {
    Tracked tracked;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = known_.find(id);
      if (found == known_.end()) continue;  // a copy committed before
      tracked = found->second;
      known_.erase(found);
    }
    CUxError removed = cache_.removeSegment(id);
    if (removed.IsError() && removed.GetErrorCode() != ENOENT) {
      addProblem("committed but not removed from the cache: " + id + ": " + ErrorText(removed));
    }
    --metrics_.objectsWaiting;
    ++committed_;
    if (tracked.putStart != Clock::time_point()) {
      metrics_.putToCommitSeconds.observe(
          std::chrono::duration<double>(reported - tracked.putStart).count());
    }
    CommitOutcome outcome;
    outcome.committed = true;
    outcome.job = tracked.job;
    outcome.stream = tracked.stream;
    waiters_.deliver(id, outcome);
  }
}

void JobRoller::removeLeftovers(int64_t runningJob) {
  for (const ObjectStore::LeftoverJob& job : leftovers_) {
    if (job.jobId == runningJob) continue;
    std::error_code error;
    std::filesystem::remove_all(job.dir, error);
    if (error) addProblem("cannot remove [" + job.dir + "]: " + error.message());
  }
}

}  // namespace objstore_host
