#include "Run.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>
#include <utility>

#include "Drivers.h"
#include "KaCriticalSectionLock.h"
#include "LeftoverJobs.h"
#include "PipelineOptions.h"
#include "RestartRegistration.h"
#include "RestartRegistry.h"

namespace ObjectStore {
// The harness looks at the commit handler a controller holds.
class BackupInterfaceTestPeer {
 public:
  static boost::weak_ptr<OBJECTOPSAPI::CCommitHandler> Handler(BackupInterface& controller) {
    KaCriticalSectionLock lock(&controller.callBackLock);
    return controller.commitHandler;
  }
};
}  // namespace ObjectStore

namespace stress {

using OBJECTOPSAPI::PipelineFaults;
using ObjectStore::BackupInterface;
using ObjectStore::BackupInterfacePtr;
typedef std::chrono::steady_clock Clock;

namespace {

const uint64_t kNoAttempt = UINT64_MAX;
thread_local uint64_t tAttempt = kNoAttempt;  // the attempt this thread is sending
// The stream and committed count of the commit this thread is delivering, if any.
thread_local uint32_t tDeliveringStream = 0;
thread_local uint64_t tDeliveredCount = 0;

void OnCommitFirst(uint32_t aFileId, std::list<std::string> items, void* context) {
  static_cast<Run*>(context)->onCommit(aFileId, items, 1);
}
void OnCommitSecond(uint32_t aFileId, std::list<std::string> items, void* context) {
  static_cast<Run*>(context)->onCommit(aFileId, items, 2);
}

bool IsPipelineError(uint32_t code) {
  return code >= 0x7001 && code <= 0x70ff;
}

std::string Joined(const std::list<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += " " + item;
  return text;
}

}  // namespace

Run::Run(const Schedule& schedule, World& world, const RunOptions& options)
    : schedule_(schedule),
      world_(world),
      options_(options),
      store_(world.storeDir()),
      deliveries_(Random(schedule.seed ^ 0x5bd1e995ull).fork()) {}

Run::~Run() {
  PipelineFaults::Clear();
}

bool Run::execute() {
  std::string why;
  if (!world_.freshRun(&why)) {
    ledger_.violation("setup: " + why);
    return false;
  }
  installPipeline();
  installOptions();
  if (schedule_.mode == Mode::kDeterministic) {
    DeterministicDriver(*this).run();
    interleaver_.reset();
  } else {
    ThreadedDriver(*this).run();
  }
  PipelineFaults::Clear();
  checkQuiet();
  store_.check(ledger_);
  return !ledger_.failed();
}

RunTotals Run::totals() {
  RunTotals totals;
  totals.sends = ledger_.attempts();
  totals.committed = ledger_.ended(Ledger::End::kCommitted);
  totals.handedBack = ledger_.ended(Ledger::End::kHandedBack);
  totals.refused = ledger_.ended(Ledger::End::kRefused);
  totals.snapshots = snapshots_;
  totals.storeChecked = store_.checked();
  std::lock_guard<std::mutex> lock(mutex_);
  totals.jobs = watched_.size();
  return totals;
}

void Run::installPipeline() {
  OBJECTOPSAPI::PipelineOptions options = OBJECTOPSAPI::PipelineOptions::Current();
  options.commitItems = schedule_.commitItems;
  options.commitBytes = schedule_.commitBytes;
  options.commitMs = schedule_.commitMs;
  OBJECTOPSAPI::PipelineOptions::Override(options);
  PipelineFaults::Clear();
  PipelineFaults::SetManualCommit(schedule_.manualCommits);
  PipelineFaults::SetLateCommits(schedule_.lateCommits);
  PipelineFaults::SetCommitDelayMs(schedule_.commitDelayMs);
  for (const FaultRule& rule : schedule_.faults) {
    PipelineFaults::FailCall(rule.op, rule.call, PipelineFaults::kAnyStream, rule.andLater,
                             rule.throws);
  }
  PipelineFaults::SetCallHook(
      [this](PipelineFaults::Op op, uint32_t aFileId) { onPipelineCall(op, aFileId); });
  if (schedule_.mode == Mode::kDeterministic && schedule_.flowWindow != 0) {
    PipelineFaults::SetHoldHook([this](uint32_t aFileId) { onFlowHold(aFileId); });
  }
  PipelineFaults::SetFlowWindow(schedule_.flowWindow);
  world_.cache().setHighWatermark(schedule_.spacePressure ? 0 : UINT64_MAX);
}

void Run::installOptions() {
  ObjectStore::BackupOptions options;
  options.commitWaitMs = schedule_.commitWaitMs;
  options.restartWaitMs = 1;
  options.cleanupPollMs = 1;
  options.maxUncommitted = schedule_.maxUncommitted;
  const uint64_t step = static_cast<uint64_t>(schedule_.clockStepSeconds);
  options.clock = [this, step] { return static_cast<int64_t>(clock_.fetch_add(step) + step); };
  CUxError error = ObjectStore::SetBackupOptions(options);
  if (error.IsError()) ledger_.violation("setup: options refused: " + error.AsString());
}

void Run::onPipelineCall(PipelineFaults::Op op, uint32_t aFileId) {
  if (op == PipelineFaults::kSendEof && tAttempt != kNoAttempt) {
    ledger_.noteEndOfFile(tAttempt, aFileId);
  }
  if (tAttempt != kNoAttempt) senderStream_ = aFileId;
  if (schedule_.mode != Mode::kDeterministic) return;
  if (deliveries_.chance(schedule_.deliverPercent)) {
    trace(std::string("at ") + PipelineFaults::OpName(op) + " " + streamName(aFileId));
    deliverSomething(deliveries_);
  }
}

void Run::onFlowHold(uint32_t aFileId) {
  trace("held " + streamName(aFileId));
  // Commits of other streams, or of this one, before the held stream commits itself.
  const int deliveries = static_cast<int>(deliveries_.below(3));
  for (int i = 0; i < deliveries; ++i) deliverSomething(deliveries_);
}

void Run::onCommit(uint32_t aFileId, const std::list<std::string>& items, int callback) {
  if (inCallback_.fetch_add(1) != 0) {
    ledger_.violation("two commit callbacks ran at once (stream " + std::to_string(aFileId) + ")");
  }
  trace("commit" + std::to_string(callback) + " " + streamName(aFileId) + Joined(items));
  ledger_.committed(aFileId, items, aFileId == tDeliveringStream ? tDeliveredCount : 0);
  store_.noteCommitted(aFileId, items);
  inCallback_.fetch_sub(1);
}

std::unique_ptr<Run::Job> Run::startJob(int32_t appId, const JobPlan& plan, bool restart) {
  OBJECTOPSAPI::JobInfoPtr info(new OBJECTOPSAPI::JobInfo());
  info->appId = appId;
  info->jobId = plan.jobId;
  info->numStreams = plan.streams;
  std::unique_ptr<Job> job(new Job);
  job->plan = &plan;
  job->appId = appId;
  for (int attempt = 0; attempt < 4 && !job->controller; ++attempt) {
    CUxError error;
    try {
      error = BackupInterface::getController(info, job->controller, restart);
    } catch (const std::exception& exception) {
      error = UX_ERROR(EIO, "getController threw: %s", exception.what());
      job->controller.reset();
    }
    trace("start " + std::to_string(plan.jobId) + " " + std::to_string(error.GetErrorCode()));
  }
  if (!job->controller) return nullptr;
  job->controller->setCallBack(&OnCommitFirst, this);
  job->watch = job->controller;
  job->handler = ObjectStore::BackupInterfaceTestPeer::Handler(*job->controller);
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t k = 0; k < job->controller->streamHandlerCount(); ++k) {
    const uint32_t aFileId = job->controller->streamHandlerAt(k)->getAfileID();
    job->aFileIds.push_back(aFileId);
    streamNames_[aFileId] = std::to_string(plan.jobId) + "/" + std::to_string(k);
  }
  watched_.push_back(job->watch);
  watchedHandlers_.push_back(job->handler);
  jobs_.push_back(job.get());
  return job;
}

void Run::sendOne(Job& job, const std::string& name, Random& random,
                  std::vector<std::string>* resend) {
  world_.ensureCached(name);
  const uint64_t attempt = ledger_.open(name, job.plan->jobId);
  std::list<std::string> failed;
  CUxError error;
  bool threw = false;
  int index = -1;
  const bool afterEnd = job.ended;  // an end has returned: the job takes nothing on
  tAttempt = attempt;
  openWindow();
  try {
    error = job.controller->sendItem(name.c_str(), failed, nullptr, &index, world_.cache(),
                                     world_.context());
  } catch (const std::exception& exception) {
    threw = true;
  }
  closeWindow();
  tAttempt = kNoAttempt;
  const uint32_t code = error.GetErrorCode();
  Ledger::Outcome outcome = Ledger::Outcome::kSent;
  if (threw) {
    // Taken on exactly when the library ended the item in the pipeline.
    outcome = ledger_.hadEndOfFile(attempt) ? Ledger::Outcome::kFailed : Ledger::Outcome::kRefused;
  } else if (error.IsError()) {
    outcome = IsPipelineError(code) ? Ledger::Outcome::kFailed : Ledger::Outcome::kRefused;
  }
  trace("send " + name + " " + std::to_string(code) + (threw ? " threw" : "") + " on " +
        std::to_string(index) + " failed" + Joined(failed));
  ledger_.returned(attempt, outcome, threw ? "exception" : error.AsString());
  if (afterEnd && outcome != Ledger::Outcome::kRefused) {
    ledger_.violation(name + ": sent after endBackup had returned, and taken on (" +
                      std::to_string(code) + ")");
  }
  ledger_.handedBack(failed, "failed list of " + name);
  if (outcome == Ledger::Outcome::kFailed && !threw && !job.ending) {
    bool own = false;
    for (const std::string& item : failed) own = own || item == name;
    if (!own) ledger_.violation(name + ": its send failed but it is not in its own failed list");
  }
  if (schedule_.mode == Mode::kDeterministic && !job.ending &&
      job.controller->freeStreamHandlerCount() != job.controller->streamHandlerCount()) {
    ledger_.violation(name + ": a stream handler was not given back after its send");
  }
  const char kind = name.back();
  for (const std::string& item : failed) {
    if (resendChosen(item, random)) resend->push_back(item);
  }
  const bool retry = code == ObjectStore::kErrBackupEnded || threw;
  if (outcome == Ledger::Outcome::kRefused && retry && kind != World::kMissing &&
      kind != World::kDamaged && resendChosen(name, random)) {
    resend->push_back(name);
  }
}

bool Run::resendChosen(const std::string& name, Random& random) {
  if (!random.chance(schedule_.resendPercent)) return false;
  // A fault that fails every later call would otherwise keep a host resending for ever.
  std::lock_guard<std::mutex> lock(mutex_);
  return ++resends_[name] <= 4;
}

void Run::callbackAtSend(Job& job, int n) {
  const JobPlan& plan = *job.plan;
  if (n == plan.callbackChangeAt) changeCallback(job, plan.callbackToNone);
  if (plan.callbackChangeAt >= 0 && plan.callbackRestoreAfter >= 0 &&
      n == plan.callbackChangeAt + plan.callbackRestoreAfter) {
    restoreCallback(job);
  }
  if (plan.callbackFlipEvery > 0 && n > 0 && n % plan.callbackFlipEvery == 0) {
    if ((n / plan.callbackFlipEvery) % 2 == 1) {
      changeCallback(job, plan.callbackToNone);
    } else {
      restoreCallback(job);
    }
  }
}

void Run::changeCallback(Job& job, bool toNone) {
  std::lock_guard<std::mutex> lock(job.callbackMutex);
  if (job.ending) return;  // an end that did not wait needs its callback to the last commit
  trace(toNone ? "callback none" : "callback second");
  job.noCallback = toNone;
  if (toNone) {
    job.controller->setCallBack(nullptr, nullptr);
  } else {
    job.controller->setCallBack(&OnCommitSecond, this);
  }
}

void Run::restoreCallback(Job& job) {
  std::lock_guard<std::mutex> lock(job.callbackMutex);
  restoreCallbackLocked(job);
}

void Run::restoreCallbackLocked(Job& job) {
  trace("callback first");
  job.noCallback = false;
  job.controller->setCallBack(&OnCommitFirst, this);
}

void Run::endJob(Job& job, Random& random, std::vector<std::string>* resend) {
  const bool wait = job.plan->waitForCommits;
  // The host's rule: commits that come after an end that does not wait go to the callback in
  // place, so such an end needs one.
  {
    std::lock_guard<std::mutex> lock(job.callbackMutex);
    if (!wait && job.noCallback) restoreCallbackLocked(job);
    job.ending = true;
  }
  std::list<std::string> failed;
  CUxError result;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Clock::time_point start = Clock::now();
    openWindow();
    result = job.controller->endBackup(failed, wait);
    closeWindow();
    job.ended = true;  // ended or not, the slots are closed now
    const long tookMs = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    if (schedule_.mode == Mode::kThreaded &&
        tookMs > schedule_.commitWaitMs + options_.endMarginMs) {
      ledger_.violation("endBackup of job " + std::to_string(job.plan->jobId) + " took " +
                        std::to_string(tookMs) + " ms, its wait is " +
                        std::to_string(schedule_.commitWaitMs) + " ms");
    }
    // Items go back for want of their commits only once the wait has run out (to the ms: the
    // measurement rounds down).
    if (wait && !failed.empty() && tookMs + 2 < schedule_.commitWaitMs) {  // ms rounding
      ledger_.violation("endBackup of job " + std::to_string(job.plan->jobId) + " handed back " +
                        std::to_string(failed.size()) + " items after " + std::to_string(tookMs) +
                        " ms, before its wait of " + std::to_string(schedule_.commitWaitMs) +
                        " ms ran out");
    }
    trace("end " + std::to_string(job.plan->jobId) + " " + std::to_string(result.GetErrorCode()) +
          Joined(failed));
    if (!IsPipelineError(result.GetErrorCode())) break;
    if (!failed.empty()) ledger_.violation("a failed pipeline stop handed items back");
  }
  const bool timedOut = result.GetErrorCode() == ObjectStore::kErrNoCommitInTime;
  if (timedOut != !failed.empty()) {
    ledger_.violation("endBackup of job " + std::to_string(job.plan->jobId) + " returned " +
                      std::to_string(result.GetErrorCode()) + " with " +
                      std::to_string(failed.size()) + " items handed back");
  }
  if (!wait && !failed.empty()) ledger_.violation("endBackup without a wait handed items back");
  if (result.IsError() && !timedOut) {
    ledger_.violation("endBackup of job " + std::to_string(job.plan->jobId) +
                      " failed: " + result.AsString());
  }
  ledger_.handedBack(failed, "end of job " + std::to_string(job.plan->jobId));
  for (const std::string& item : failed) {
    if (resendChosen(item, random)) resend->push_back(item);
  }
}

void Run::settleJob(Job& job) {
  if (schedule_.lateCommits) {
    // The pipeline's last word on each stream, after the end returned.
    for (uint32_t aFileId : job.aFileIds) {
      uint64_t count = 0;
      CUxError error = PipelineFaults::CommitAndDeliver(aFileId, &count);
      trace("late " + streamName(aFileId) + " " + std::to_string(count) + " " +
            std::to_string(error.GetErrorCode()));
    }
  }
  forgetJob(job);
  const ObjectStore::ControllerStatistics figures = job.controller->statistics();
  const Ledger::JobCounts counts = ledger_.countsFor(job.plan->jobId);
  const ObjectStore::StreamStatistics& total = figures.total;
  if (total.itemsRecorded != counts.recorded || total.itemsCommitted != counts.committed ||
      total.itemsHandedBack() != counts.handedBack || total.uncommitted != counts.open) {
    ledger_.violation(
        "statistics of job " + std::to_string(job.plan->jobId) + ": recorded " +
        std::to_string(total.itemsRecorded) + " committed " + std::to_string(total.itemsCommitted) +
        " handed back " + std::to_string(total.itemsHandedBack()) + " uncommitted " +
        std::to_string(total.uncommitted) + "; the harness counts " +
        std::to_string(counts.recorded) + " / " + std::to_string(counts.committed) + " / " +
        std::to_string(counts.handedBack) + " / " + std::to_string(counts.open));
  }
  checkStaleRefusals(job, total.commitsRefusedStale);
}

void Run::checkStaleRefusals(const Job& job, uint64_t refused) {
  // With one thread, every stale number delivered while a callback was set met that callback.
  if (schedule_.mode != Mode::kDeterministic) return;
  uint64_t delivered = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint32_t aFileId : job.aFileIds) delivered += staleDelivered_[aFileId];
  }
  if (refused < delivered) {
    ledger_.violation("job " + std::to_string(job.plan->jobId) + " refused " +
                      std::to_string(refused) + " stale numbers, the harness delivered " +
                      std::to_string(delivered));
  }
}

void Run::forgetJob(Job& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
    if (*it == &job) {
      jobs_.erase(it);
      break;
    }
  }
}

bool Run::hasCallback(uint32_t aFileId) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Job* job : jobs_) {
    for (uint32_t id : job->aFileIds) {
      if (id == aFileId) return !job->noCallback;
    }
  }
  return false;
}

std::vector<uint32_t> Run::liveStreams() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint32_t> streams;
  for (Job* job : jobs_) streams.insert(streams.end(), job->aFileIds.begin(), job->aFileIds.end());
  return streams;
}

void Run::deliverSomething(Random& random, uint32_t preferred) {
  const std::vector<uint32_t> streams = liveStreams();
  if (streams.empty()) return;
  uint32_t aFileId = streams[random.below(streams.size())];
  if (preferred != 0 && random.chance(70) &&
      std::find(streams.begin(), streams.end(), preferred) != streams.end()) {
    aFileId = preferred;
  }
  if (random.chance(schedule_.oddNumberPercent)) {
    // Stale numbers only: a number beyond what the pipeline committed is a pipeline fault the
    // library cannot tell from a commit, and every later number looks stale after it.
    uint64_t last = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      last = lastCount_[aFileId];
    }
    const std::string number = std::to_string(last == 0 ? 0 : random.below(last));
    const bool callbackSet = hasCallback(aFileId);
    CUxError error = PipelineFaults::DeliverCommit(aFileId, number);
    trace("odd " + streamName(aFileId) + " " + number + " " + std::to_string(error.GetErrorCode()));
    if (last != 0 && callbackSet && !error.IsError()) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++staleDelivered_[aFileId];  // below a number the library took: it must refuse it
    }
    return;
  }
  tDeliveredCount = 0;
  tDeliveringStream = aFileId;
  CUxError error = PipelineFaults::CommitAndDeliver(aFileId, &tDeliveredCount);
  tDeliveringStream = 0;
  const uint64_t count = tDeliveredCount;
  if (!error.IsError()) {  // a number the library did not get is no measure of staleness
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t& last = lastCount_[aFileId];
    if (count > last) last = count;
  }
  trace("deliver " + streamName(aFileId) + " " + std::to_string(count) + " " +
        std::to_string(error.GetErrorCode()));
}

void Run::checkSnapshot() {
  std::lock_guard<std::mutex> totalsLock(totalsMutex_);
  const ObjectStore::ProcessStatistics figures = ObjectStore::GetProcessStatistics();
  ++snapshots_;
  checkApplicationTotals(figures.applications);
  auto check = [this](const ObjectStore::StreamStatistics& stream) {
    if (stream.itemsRecorded !=
        stream.itemsCommitted + stream.itemsHandedBack() + stream.uncommitted) {
      ledger_.violation("statistics of stream " + std::to_string(stream.aFileId) + ": recorded " +
                        std::to_string(stream.itemsRecorded) + " != committed " +
                        std::to_string(stream.itemsCommitted) + " + handed back " +
                        std::to_string(stream.itemsHandedBack()) + " + uncommitted " +
                        std::to_string(stream.uncommitted));
    }
  };
  for (const ObjectStore::ControllerStatistics& controller : figures.controllers) {
    for (const ObjectStore::StreamStatistics& stream : controller.streams) check(stream);
  }
  for (const ObjectStore::StreamStatistics& stream : figures.otherStreams) check(stream);
}

void Run::checkApplicationTotals(const std::vector<ObjectStore::ApplicationStatistics>& apps) {
  for (const ObjectStore::ApplicationStatistics& app : apps) {
    const ObjectStore::StreamStatistics& t = app.totals;
    const std::string name = "application " + std::to_string(app.appId);
    if (t.itemsRecorded !=
        t.itemsCommitted + t.itemsHandedBack() + t.uncommitted + app.itemsAbandoned) {
      ledger_.violation("statistics of " + name + ": recorded " + std::to_string(t.itemsRecorded) +
                        " != committed " + std::to_string(t.itemsCommitted) + " + handed back " +
                        std::to_string(t.itemsHandedBack()) + " + uncommitted " +
                        std::to_string(t.uncommitted) + " + abandoned " +
                        std::to_string(app.itemsAbandoned));
    }
    const auto last = lastTotals_.find(app.appId);
    if (last != lastTotals_.end()) {
      const ObjectStore::StreamStatistics& before = last->second.totals;
      const std::pair<uint64_t, uint64_t> counters[] = {
          {before.itemsRecorded, t.itemsRecorded},
          {before.bytesSent, t.bytesSent},
          {before.itemsCommitted, t.itemsCommitted},
          {before.itemsHandedBack(), t.itemsHandedBack()},
          {before.commitsRefusedStale, t.commitsRefusedStale},
          {before.commitLatency.count(), t.commitLatency.count()},
          {last->second.jobsEnded, app.jobsEnded}};
      for (const auto& counter : counters) {
        if (counter.second < counter.first) {
          ledger_.violation("statistics of " + name + ": a counter went back from " +
                            std::to_string(counter.first) + " to " +
                            std::to_string(counter.second));
        }
      }
    }
    lastTotals_[app.appId] = app;
  }
}

void Run::interleavedAction(Random& random) {
  if (random.chance(50)) {
    trace("interleaved snapshot");
    checkSnapshot();
  } else {
    trace("interleaved delivery");
    deliverSomething(random, senderStream_);  // most often the stream being sent on
  }
}

void Run::startInterleaver() {
  if (schedule_.interleavePercent == 0) return;
  interleaver_.reset(new Interleaver([this](Random& random) { interleavedAction(random); },
                                     schedule_.interleavePercent,
                                     Random(schedule_.seed ^ 0x94d049bb133111ebull)));
}

void Run::openWindow() {
  if (interleaver_) interleaver_->open();
}

void Run::closeWindow() {
  if (interleaver_) interleaver_->close();
}

void Run::checkQuiet() {
  ledger_.checkAllEnded();
  std::vector<boost::weak_ptr<BackupInterface>> watched;
  std::vector<boost::weak_ptr<OBJECTOPSAPI::CCommitHandler>> handlers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    watched = watched_;
    handlers = watchedHandlers_;
  }
  for (size_t i = 0; i < watched.size(); ++i) {
    if (!watched[i].expired()) ledger_.violation("a controller outlived its job and the host");
    if (!handlers[i].expired()) ledger_.violation("a commit handler outlived its controller");
  }
  {
    KaCriticalSectionLock lock(&ObjectStore::gObjectCreationLock);
    if (!ObjectStore::gObjToAppIdMap.empty()) {
      ledger_.violation(std::to_string(ObjectStore::gObjToAppIdMap.size()) +
                        " controllers still registered");
    }
  }
  {
    KaCriticalSectionLock lock(&ObjectStore::gStreamLock);
    if (!ObjectStore::gStreams.empty()) {
      ledger_.violation(std::to_string(ObjectStore::gStreams.size()) +
                        " stream records still registered");
    }
  }
  {
    KaCriticalSectionLock lock(&ObjectStore::gThreadSyncLock);
    if (!ObjectStore::gThreadSyncMap.empty()) ledger_.violation("a restart entry was left");
  }
  for (const ObjectStore::LeftoverJob& leftover : ObjectStore::LeftoverJobs::List(world_.root())) {
    ledger_.violation("job directory " + leftover.dir + " left behind");
  }
}

void Run::trace(const std::string& event) {
  if (options_.verbose) fprintf(stderr, "  %s\n", event.c_str());
  if (schedule_.mode != Mode::kDeterministic) return;
  for (char c : event) digest_ = (digest_ ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  digest_ = (digest_ ^ '\n') * 1099511628211ull;
}

std::string Run::streamName(uint32_t aFileId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = streamNames_.find(aFileId);
  return found == streamNames_.end() ? "-" : found->second;
}

std::string Run::newItemName(int32_t appId, Random& random) {
  int number = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    number = nextItem_[appId]++;
  }
  char kind = World::kSmall;
  if (random.chance(schedule_.missingPercent)) {
    kind = World::kMissing;
  } else if (random.chance(schedule_.unreadablePercent)) {
    kind = World::kDamaged;
  } else if (random.chance(schedule_.bigPercent)) {
    kind = World::kBig;
  } else if (random.chance(5)) {
    kind = World::kEmpty;
  }
  return "a" + std::to_string(appId) + "-" + std::to_string(number) + kind;
}

}  // namespace stress

namespace stress {

namespace {

int gCrashRecord = -1;  // the child's record of what it saw

void WriteRecord(char kind, const std::string& name) {
  const std::string line = std::string(1, kind) + " " + name + "\n";
  // One write per line into an O_APPEND file: what was written survives the death.
  if (write(gCrashRecord, line.data(), line.size()) < 0) _exit(3);
}

void OnChildCommit(uint32_t, std::list<std::string> items, void*) {
  for (const std::string& item : items) WriteRecord('C', item);
}

// The child: one job of the application, on one thread, that dies after `sends` sends without
// ending its job, the way a killed server leaves it.
void RunCrashingChild(World& world, const AppPlan& app, int64_t jobId) {
  // Commits delivered on this thread after every other send: what the child saw committed when
  // it died is the seed's to choose, not the scheduler's.
  PipelineFaults::Clear();
  PipelineFaults::SetManualCommit(true);
  OBJECTOPSAPI::JobInfoPtr info(new OBJECTOPSAPI::JobInfo());
  info->appId = app.appId;
  info->jobId = jobId;
  info->numStreams = app.crashStreams;
  BackupInterfacePtr controller;
  if (BackupInterface::getController(info, controller, false).IsError()) _exit(2);
  controller->setCallBack(&OnChildCommit, nullptr);
  for (int i = 0; i < app.crashAfterSends; ++i) {
    const std::string name = "a" + std::to_string(app.appId) + "-crash" + std::to_string(i) + "s";
    world.ensureCached(name);
    std::list<std::string> failed;
    if (!controller
             ->sendItem(name.c_str(), failed, nullptr, nullptr, world.cache(), world.context())
             .IsError()) {
      WriteRecord('S', name);
    }
    for (const std::string& item : failed) WriteRecord('F', item);
    if (i % 2 == 0) continue;
    for (size_t k = 0; k < controller->streamHandlerCount(); ++k) {
      PipelineFaults::CommitAndDeliver(controller->streamHandlerAt(k)->getAfileID());
    }
  }
  _exit(0);
}

}  // namespace

std::vector<std::string> Run::crashChild(const AppPlan& app) {
  const int64_t jobId = CrashJobId(app);
  const std::string record = world_.root() + "/../crash-record-" + std::to_string(app.appId);
  gCrashRecord = ::open(record.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (gCrashRecord < 0) {
    ledger_.violation("setup: cannot create " + record);
    return {};
  }
  fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) RunCrashingChild(world_, app, jobId);
  ::close(gCrashRecord);
  int status = 0;
  const Clock::time_point limit = Clock::now() + std::chrono::seconds(60);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() > limit) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      ledger_.violation("the crashing child of app " + std::to_string(app.appId) + " hung");
      return {};
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ledger_.violation("the crashing child of app " + std::to_string(app.appId) +
                      " failed before its crash (status " + std::to_string(status) + ")");
  }
  std::set<std::string> sent, committed;
  std::ifstream in(record);
  std::string kind, name;
  while (in >> kind >> name) {
    if (kind == "C" && !committed.insert(name).second) {
      ledger_.violation(name + ": reported committed twice before the crash");
    }
    if (kind == "S" || kind == "F") sent.insert(name);
  }
  std::vector<std::string> pending;
  for (const std::string& item : sent) {
    if (committed.count(item) == 0) pending.push_back(item);
  }
  bool listed = false;
  for (const ObjectStore::LeftoverJob& leftover : ObjectStore::LeftoverJobs::List(world_.root())) {
    listed = listed || leftover.jobId == jobId;
  }
  if (!listed) ledger_.violation("the crashed job " + std::to_string(jobId) + " is not listed");
  trace("crash " + std::to_string(app.appId) + " pending " + std::to_string(pending.size()));
  return pending;
}

void Run::restartJob(const AppPlan& app, const std::vector<std::string>& pending, bool withWaiter,
                     Random& random, std::vector<std::string>* carry) {
  JobPlan* plan = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    restartPlans_.emplace_back();
    plan = &restartPlans_.back();
  }
  plan->jobId = CrashJobId(app);
  plan->streams = app.crashStreams;
  ObjectStore::RestartRegistration registration(app.appId);
  std::unique_ptr<Job> job = startJob(app.appId, *plan, true);
  std::atomic<bool> restartDone(false);
  BackupInterfacePtr shared;
  std::thread waiter;
  if (withWaiter) {
    waiter = std::thread([&] {
      OBJECTOPSAPI::JobInfoPtr info(new OBJECTOPSAPI::JobInfo());
      info->appId = app.appId;
      info->jobId = plan->jobId;
      info->numStreams = plan->streams;
      try {
        BackupInterface::getController(info, shared, false);
      } catch (const std::exception&) {
      }
      if (!restartDone) ledger_.violation("getController did not wait for the restart thread");
    });
  }
  std::vector<std::string> resend;
  for (const std::string& name : pending) {
    if (job) {
      sendOne(*job, name, random, &resend);
    } else {
      carry->push_back(name);  // the restart never started: the next job sends them
    }
  }
  restartDone = true;
  registration.finish();
  if (waiter.joinable()) waiter.join();
  if (job && shared && shared != job->controller) {
    ledger_.violation("a getController waiting for the restart got a controller of its own");
  }
  if (!job && shared) {
    // The restart never started, so the waiter started the job: end it, it holds nothing.
    std::list<std::string> failed;
    shared->endBackup(failed, true);
  }
  shared.reset();
  if (job) {
    endJob(*job, random, &resend);
    settleJob(*job);
  }
  carry->insert(carry->end(), resend.begin(), resend.end());
}

}  // namespace stress
