// The three phases of the example, each run by the driver (main.cpp) in a fresh process.
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "LeftoverJobs.h"
#include "RestartRegistration.h"
#include "StatisticsText.h"
#include "server.h"

namespace server {

namespace {

using std::chrono::seconds;

// A few sends of each kind fail, one by throwing, so that failed lists come back.
const char* const kSendFailures =
    "sendHeader=9,sendHeader=260,sendUserBufData=70,sendUserBufData=300:throw,sendEof=150";
// The killed job's commits are slow: a stream's end-of-file waits while 4 of its items wait for
// their commit report, and each report comes 60 ms late, so the job is still sending at the kill
// and some of what it sent is not committed yet.
const char* const kSlowCommits = "flowWindow=4,commitDelay=60";
const uint64_t kCommitItems = 16;  // a stream commits by itself after 16 items

int Fail(const char* phase, const std::string& why) {
  std::printf("FAILED: %s: %s\n", phase, why.c_str());
  return 1;
}

// The library's statistics of every running job, once a second while jobs run, and once as soon
// as a job runs: what a server would export (StatisticsToPrometheus gives the text format).
class StatisticsReporter {
 public:
  void poll() {
    const auto now = std::chrono::steady_clock::now();
    const ObjectStore::ProcessStatistics statistics = ObjectStore::GetProcessStatistics();
    const bool first = !shown_ && !statistics.controllers.empty();
    if (!first && now - last_ < seconds(1)) return;
    std::printf("statistics: %s", ObjectStore::StatisticsToJson(statistics).c_str());
    shown_ = shown_ || first;
    last_ = now;
  }

 private:
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// Runs `jobs` of one application in a row, on a thread of its own.
std::future<std::string> RunApplication(std::vector<JobPlan> jobs, const WorkDirs& dirs,
                                        CommitRecord& record, SendTally* tally) {
  return std::async(std::launch::async, [jobs, &dirs, &record, tally] {
    ObjectStore::DirectoryDiskCache cache(dirs.cache(jobs.front().appId).string());
    for (const JobPlan& job : jobs) {
      const std::string error = RunJob(job, cache, record, tally);
      if (!error.empty()) return error;
    }
    return std::string();
  });
}

}  // namespace

int RunNormalPhase(const WorkDirs& dirs) {
  if (!SetUpServer(dirs, "normal", kSendFailures, kCommitItems)) return Fail("normal", "set-up");
  CommitRecord record(dirs.record);
  SendTally a, b;
  std::future<std::string> jobsOfA =
      RunApplication({kJobsOfA[0], kJobsOfA[1], kJobsOfA[2]}, dirs, record, &a);
  std::future<std::string> jobOfB = RunApplication({kJobOfB}, dirs, record, &b);
  const auto deadline = std::chrono::steady_clock::now() + seconds(60);
  StatisticsReporter statistics;
  for (std::future<std::string>* app : {&jobsOfA, &jobOfB}) {
    while (app->wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
      if (std::chrono::steady_clock::now() > deadline) {
        Fail("normal", "the jobs did not end within 60 s");
        std::_Exit(1);  // the jobs' threads cannot be joined
      }
      statistics.poll();
    }
    const std::string error = app->get();
    if (!error.empty()) return Fail("normal", error);
  }
  std::printf(
      "normal: 3 jobs of application %d while 1 of application %d ran: %d sends, %d resent"
      " after failures; A's streams got %d/%d/%d/%d\n",
      kAppA, kAppB, a.sent + b.sent, a.resent + b.resent, a.perStream[0], a.perStream[1],
      a.perStream[2], a.perStream[3]);
  return 0;
}

int RunKilledPhase(const WorkDirs& dirs) {
  if (!SetUpServer(dirs, "killed", kSlowCommits, kCommitItems)) return Fail("killed", "set-up");
  CommitRecord record(dirs.record);
  ObjectStore::DirectoryDiskCache cache(dirs.cache(kKilledJob.appId).string());
  SendTally tally;
  const std::string error = RunJob(kKilledJob, cache, record, &tally);
  // The driver kills this process long before: ending at all is a failure of the drill.
  return Fail("killed", "the job ended before the kill: " + (error.empty() ? "ok" : error));
}

int RunRestartPhase(const WorkDirs& dirs) {
  if (!SetUpServer(dirs, "restart", "", kCommitItems)) return Fail("restart", "set-up");
  CommitRecord record(dirs.record);  // holds what the earlier processes saw committed
  // Before any job starts: the directory of a running job looks like a leftover.
  std::vector<ObjectStore::LeftoverJob> leftovers = ObjectStore::LeftoverJobs::List();
  for (const ObjectStore::LeftoverJob& job : leftovers) {
    if (!job.problem.empty()) return Fail("restart", job.dir + ": " + job.problem);
    if (job.appId != kAppA) return Fail("restart", "a leftover of another application");
    std::printf("restart: leftover job %lld of application %d (%u streams) in %s\n",
                (long long)job.jobId, job.appId, job.numStreams, job.dir.c_str());
  }
  if (leftovers.empty()) return Fail("restart", "no leftover job found");
  ObjectStore::DirectoryDiskCache cache(dirs.cache(kAppA).string());
  // Chosen before new objects arrive: what the dead process left in the cache, less what the
  // record shows committed. Resending a recorded one would commit it a second time.
  std::vector<std::string> pending;
  for (const std::string& guid : cache.listSegments())
    if (!record.has(guid)) pending.push_back(guid);

  // Before the restart thread asks for the controller; the thread takes it over, so that its end,
  // however it ends, wakes the waiters.
  ObjectStore::RestartRegistration registration(kAppA);
  std::atomic<bool> restartDone{false};
  ObjectStore::BackupInterfacePtr restartController, jobController;
  SendTally restartTally, jobTally;
  std::future<std::string> restart = std::async(std::launch::async, [&] {
    ObjectStore::RestartRegistration scope(std::move(registration));
    std::string error = StartJob(kNextJobOfA, true, record, &restartController);
    if (error.empty())
      error = SendWithResends(*restartController, pending, cache, record, &restartTally);
    restartDone = true;
    return error;  // the scope's end lets the waiting getController go on
  });
  // The application's next job, as a server starts it at the same time: getController waits
  // until the restart thread is done, then returns the controller that thread made.
  std::vector<std::string> names;
  std::future<std::string> nextJob = std::async(std::launch::async, [&] {
    std::string error;
    names = WriteObjects(kNextJobOfA, cache, &error);
    if (error.empty()) error = StartJob(kNextJobOfA, false, record, &jobController);
    if (error.empty() && !restartDone) error = "getController did not wait for the restart";
    if (error.empty()) error = SendWithResends(*jobController, names, cache, record, &jobTally);
    return error;
  });
  for (std::future<std::string>* part : {&restart, &nextJob}) {
    if (part->wait_for(seconds(60)) != std::future_status::ready) {
      Fail("restart", "the restart did not end within 60 s");
      std::_Exit(1);
    }
    const std::string error = part->get();
    if (!error.empty()) return Fail("restart", error);
  }
  if (restartController != jobController) return Fail("restart", "two controllers for one app");
  names.insert(names.end(), pending.begin(), pending.end());
  const std::string error = EndJob(*restartController, names, cache, record);
  if (!error.empty()) return Fail("restart", error);
  // Only now: had this process died during the restart, the next start must see them again.
  for (const ObjectStore::LeftoverJob& job : leftovers)
    if (job.jobId != kNextJobOfA.jobId) std::filesystem::remove_all(job.dir);
  std::printf("restart: %zu pending objects resent, then job %lld sent %d new objects\n",
              pending.size(), (long long)kNextJobOfA.jobId, kNextJobOfA.objects);
  return 0;
}

}  // namespace server
