// Run: one seed's run of the harness against the library: the jobs of its schedule, the
// checks made during and after them, and the trace whose digest tells two runs of a seed apart.
#ifndef OBJSTORE_TESTS_STRESS_RUN_H_
#define OBJSTORE_TESTS_STRESS_RUN_H_

#include <atomic>
#include <boost/weak_ptr.hpp>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Interleaver.h"
#include "Ledger.h"
#include "ObjStoreBackupInterface.h"
#include "Random.h"
#include "Schedule.h"
#include "StoreCheck.h"
#include "World.h"

namespace stress {

struct RunOptions {
  long endMarginMs = 3000;  // what endBackup may take beyond its commit wait
  bool verbose = false;
};

struct RunTotals {
  uint64_t sends = 0, committed = 0, handedBack = 0, refused = 0, jobs = 0, snapshots = 0;
  uint64_t storeChecked = 0;  // items reported committed and found whole in the store
};

class Run {
 public:
  Run(const Schedule& schedule, World& world, const RunOptions& options);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // Runs the schedule; true when no check failed (violations() says which did).
  bool execute();
  std::vector<std::string> violations() { return ledger_.violations(); }
  uint64_t digest() const { return digest_; }
  RunTotals totals();

  // A job as the harness drives it.
  struct Job {
    const JobPlan* plan = nullptr;
    int32_t appId = 0;
    ObjectStore::BackupInterfacePtr controller;
    boost::weak_ptr<ObjectStore::BackupInterface> watch;
    boost::weak_ptr<OBJECTOPSAPI::CCommitHandler> handler;
    std::vector<uint32_t> aFileIds;
    std::atomic<int> sendsStarted{0};
    std::atomic<bool> ending{false};  // endBackup has been called
    std::atomic<bool> ended{false};   // ... and has returned
    std::atomic<bool> noCallback{false};
    std::mutex callbackMutex;  // orders callback changes with the start of the end
  };

  // The harness's side of the pipeline's call hook: notes end-of-file records and, in the
  // deterministic mode, delivers commits at the call boundaries the seed picks.
  void onPipelineCall(OBJECTOPSAPI::PipelineFaults::Op op, uint32_t aFileId);
  void onFlowHold(uint32_t aFileId);
  void onCommit(uint32_t aFileId, const std::list<std::string>& items, int callback);

 private:
  friend class ThreadedDriver;
  friend class DeterministicDriver;

  void installPipeline();
  void installOptions();
  // Starts a job of `appId` (retrying a start that faults); null when it never started.
  std::unique_ptr<Job> startJob(int32_t appId, const JobPlan& plan, bool restart);
  // Sends `name` on `job`. Names handed back or refused for want of a running job go to
  // `resend` (those the seed resends).
  void sendOne(Job& job, const std::string& name, Random& random, std::vector<std::string>* resend);
  // What the job's plan does to the callback as its `n`-th send (from 0) starts.
  void callbackAtSend(Job& job, int n);
  void changeCallback(Job& job, bool toNone);
  void restoreCallback(Job& job);
  void restoreCallbackLocked(Job& job);
  // Ends the job (retrying a failed pipeline stop) and checks what the end promises.
  void endJob(Job& job, Random& random, std::vector<std::string>* resend);
  // After the end: the late commits, the job's figures against the ledger's.
  void settleJob(Job& job);
  void forgetJob(Job& job);
  // Every stale number the harness delivered to a job with a callback set was refused as stale.
  void checkStaleRefusals(const Job& job, uint64_t refused);
  bool hasCallback(uint32_t aFileId);

  // Commits delivered by the harness: a real commit of a stream of a running job, now and then a
  // stale or too high number instead.
  // `preferred`: a stream to pick more often than the others (0: none).
  void deliverSomething(Random& random, uint32_t preferred = 0);
  std::vector<uint32_t> liveStreams();

  // The crash before an application's jobs: a child process runs a job and dies mid-job; the
  // names it had not seen committed are the restart's to resend.
  std::vector<std::string> crashChild(const AppPlan& app);
  // The restart: the restart thread's job resends `pending` while, with `withWaiter`, another
  // thread of the application asks for its controller and must wait for the restart to finish.
  // What the restart hands back goes to `carry`.
  void restartJob(const AppPlan& app, const std::vector<std::string>& pending, bool withWaiter,
                  Random& random, std::vector<std::string>* carry);
  static int64_t CrashJobId(const AppPlan& app) { return app.appId * 100 + 99; }

  void checkSnapshot();
  // Per application: the totals add up, and no counter is lower than in the snapshot before.
  void checkApplicationTotals(const std::vector<ObjectStore::ApplicationStatistics>& apps);
  void checkQuiet();
  // The second thread's action: a delivery or a snapshot.
  void interleavedAction(Random& random);
  // Starts the second thread, when the seed wants one: after the crashes, since a process
  // with threads forks badly (TSan refuses it).
  void startInterleaver();
  // Opens and closes the interleaver's window around a library call (no-ops without one).
  void openWindow();
  void closeWindow();
  void trace(const std::string& event);
  std::string streamName(uint32_t aFileId);
  std::string newItemName(int32_t appId, Random& random);
  bool resendChosen(const std::string& name, Random& random);

  const Schedule& schedule_;
  World& world_;
  const RunOptions options_;
  Ledger ledger_;
  StoreCheck store_;
  std::unique_ptr<Interleaver> interleaver_;  // deterministic mode, when the seed wants one
  std::atomic<int> inCallback_{0};
  std::atomic<uint64_t> clock_{1700000000};
  std::atomic<uint64_t> snapshots_{0};
  std::atomic<uint32_t> senderStream_{0};  // the stream a send is on, last the pipeline saw

  // Held across a snapshot and its comparison with the one before, so that two threads'
  // snapshots are compared in the order they were taken.
  std::mutex totalsMutex_;
  std::map<int32_t, ObjectStore::ApplicationStatistics> lastTotals_;  // guarded by totalsMutex_

  std::mutex mutex_;  // guards everything below
  std::map<uint32_t, std::string> streamNames_;
  std::vector<Job*> jobs_;  // running, or ended with late commits still to come
  std::vector<boost::weak_ptr<ObjectStore::BackupInterface>> watched_;
  std::vector<boost::weak_ptr<OBJECTOPSAPI::CCommitHandler>> watchedHandlers_;
  std::map<int32_t, int> nextItem_;
  std::deque<JobPlan> restartPlans_;
  std::map<uint32_t, uint64_t> lastCount_;
  std::map<uint32_t, uint64_t> staleDelivered_;  // per stream: stale numbers that must be refused
  std::map<std::string, int> resends_;           // per stream, the highest count delivered
  Random deliveries_;  // the deterministic mode's choices at call boundaries
  uint64_t digest_ = 1469598103934665603ull;
};

}  // namespace stress

#endif  // OBJSTORE_TESTS_STRESS_RUN_H_
