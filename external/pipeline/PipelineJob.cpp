#include "PipelineJob.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <exception>
#include <map>

#include "LogWriter.h"
#include "PipelineErrors.h"
#include "PipelineFaults.h"
#include "StoreIo.h"
#include "StoreLeftovers.h"

namespace OBJECTOPSAPI {

namespace {

// aFile IDs are unique across every job of the process: the library that uses the pipeline
// keys its streams by aFile ID alone.
std::atomic<uint32_t> gNextAfileId{1};
std::atomic<uint64_t> gNextRunSequence{1};

std::mutex gRegistryMutex;
std::map<uint32_t, boost::weak_ptr<PipelineJob>> gJobsByAfileId;

// The job whose commit thread this is, if any.
thread_local const PipelineJob* tCommitThreadJob = nullptr;

uint32_t NextAfileId() {
  uint32_t id = gNextAfileId.fetch_add(1);
  while (id == 0) id = gNextAfileId.fetch_add(1);  // 0 means "no stream" everywhere
  return id;
}

void Unregister(const std::vector<PipelineJob::StreamPtr>& streams) {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  for (const PipelineJob::StreamPtr& stream : streams) gJobsByAfileId.erase(stream->aFileId());
}

// A run directory that no other start of any job uses: the start time, the process and a
// counter make the name unique, and mkdir's refusal of an existing name settles any doubt.
CUxError CreateRunDirectory(const std::string& storeDir, int64_t jobId, std::string* runId,
                            std::string* runDir) {
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    *runId = std::to_string(micros) + "-" + std::to_string(::getpid()) + "-" +
             std::to_string(gNextRunSequence.fetch_add(1));
    *runDir = storeDir + "/" + std::to_string(jobId) + "." + *runId;
    if (::mkdir(runDir->c_str(), 0777) == 0) return CUxError();
    if (errno != EEXIST) {
      return UX_ERROR(kPipelineIoError, "mkdir [%s] failed: %s", runDir->c_str(),
                      std::strerror(errno));
    }
  }
  return UX_ERROR(kPipelineIoError, "no unused run directory for job [%lld] in [%s]",
                  static_cast<long long>(jobId), storeDir.c_str());
}

// The commit thread survives whatever a handler throws: one bad notification must not end the
// process or stop later commits.
CUxError CallCommitUpdate(const CCommitHandlerPtr& handler, uint32_t aFileId,
                          std::string sequence) {
  try {
    return handler->commitUpdate(aFileId, sequence);
  } catch (const std::exception& exception) {
    return UX_ERROR(kPipelineInvalidArgument, "commitUpdate threw: %s", exception.what());
  } catch (...) {
    return UX_ERROR(kPipelineInvalidArgument, "commitUpdate threw an unknown exception");
  }
}

}  // namespace

CUxError PipelineJob::Start(JobManifest manifest, const PipelineOptions& options,
                            boost::shared_ptr<PipelineJob>* out) {
  std::string storeDir =
      options.storeDir.empty() ? PipelineOptions::ResolveStoreDir() : options.storeDir;
  CUxError error = StoreIo::MakeDirs(storeDir);
  if (error.IsError()) return error.Push(UX_CODE_LOCATION);
  // What killed writers left would otherwise stay for good: no reader looks at those names.
  std::vector<std::string> removed;
  StoreLeftovers::Remove(storeDir, &removed);
  for (const std::string& path : removed) {
    OBJSTORE_LOG(1, "INFO: removed [%s], left by an interrupted write", path.c_str());
  }
  std::string runDir;
  error = CreateRunDirectory(storeDir, manifest.jobId, &manifest.runId, &runDir);
  if (error.IsError()) return error;

  manifest.startTime = static_cast<int64_t>(std::time(nullptr));
  manifest.pid = ::getpid();
  error = manifest.writeTo(runDir);
  if (error.IsError()) {
    ::rmdir(runDir.c_str());
    return error.Push(UX_CODE_LOCATION);
  }

  boost::shared_ptr<PipelineJob> job(new PipelineJob(manifest, options, runDir));
  // The thread holds the job, so a job dropped from inside a commit notification lives until
  // its commit thread has returned.
  job->commitThread_ = std::thread([job] { job->runCommitThread(); });
  OBJSTORE_LOG(1, "INFO: pipeline job [%lld] started in [%s]",
               static_cast<long long>(manifest.jobId), runDir.c_str());
  *out = job;
  return CUxError();
}

boost::shared_ptr<PipelineJob> PipelineJob::FindByAfileId(uint32_t aFileId) {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  auto found = gJobsByAfileId.find(aFileId);
  return found == gJobsByAfileId.end() ? boost::shared_ptr<PipelineJob>() : found->second.lock();
}

PipelineJob::PipelineJob(const JobManifest& manifest, const PipelineOptions& options,
                         std::string runDir)
    : jobId_(manifest.jobId),
      numStreams_(manifest.numStreams),
      commitCallbackEnabled_(manifest.commitCallbackEnabled),
      options_(options),
      runDir_(std::move(runDir)),
      signal_(new CommitSignal()),
      manifest_(manifest) {}

PipelineJob::~PipelineJob() {
  // Normally end() or abandon() has stopped the thread already.
  stopCommitThread(false);
  closeStreams();
  Unregister(streams_);  // kept after the end for late commits
}

CUxError PipelineJob::openStream(StreamPtr* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ending_) {
    return UX_ERROR(kPipelineJobEnded, "job [%lld] has ended: no more streams",
                    static_cast<long long>(jobId_));
  }
  if (streams_.size() >= numStreams_) {
    return UX_ERROR(kPipelineStreamLimit, "job [%lld] has already handed out all its %u streams",
                    static_cast<long long>(jobId_), numStreams_);
  }
  StreamPtr stream(new PipelineStream(NextAfileId(), runDir_, options_, signal_));
  CUxError error = stream->open();
  if (error.IsError()) return error.Push(UX_CODE_LOCATION);
  streams_.push_back(stream);
  {
    std::lock_guard<std::mutex> registryLock(gRegistryMutex);
    gJobsByAfileId[stream->aFileId()] = shared_from_this();
  }
  OBJSTORE_LOG(2, "INFO: job [%lld] opened stream [%u]", static_cast<long long>(jobId_),
               stream->aFileId());
  *out = stream;
  return CUxError();
}

CUxError PipelineJob::releaseStream(PipelineStream* stream) {
  if (stream == nullptr || !ownsStream(stream->aFileId())) {
    return UX_ERROR(kPipelineInvalidArgument, "stream [%u] does not belong to job [%lld]",
                    stream != nullptr ? stream->aFileId() : 0, static_cast<long long>(jobId_));
  }
  if (!stream->release()) {
    OBJSTORE_LOG(3, "INFO: stream [%u] was already released", stream->aFileId());
  }
  return CUxError();
}

void PipelineJob::setCallback(const CCommitHandlerPtr& handler) {
  CCommitHandlerPtr previous;  // let go of outside the lock: its destructor may call anything
  std::lock_guard<std::mutex> lock(mutex_);
  if (ending_) {
    OBJSTORE_LOG(-1, "WARN: job [%lld] has ended; its commit handler is not replaced",
                 static_cast<long long>(jobId_));
    return;
  }
  previous = callback_;
  callback_ = handler;
}

CUxError PipelineJob::end(KAJobStatus status) {
  if (onCommitThread()) {
    return UX_ERROR(kPipelineInvalidArgument,
                    "job [%lld] cannot be ended from its own commit notification",
                    static_cast<long long>(jobId_));
  }
  CUxError error = PipelineFaults::Check(PipelineFaults::kEndBackup, 0);
  if (error.IsError()) return error;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ending_) {
      return UX_ERROR(kPipelineJobEnded, "job [%lld] has already ended",
                      static_cast<long long>(jobId_));
    }
    ending_ = true;
  }
  stopCommitThread(true);
  closeStreams();
  const bool late = PipelineFaults::ManualCommit() && PipelineFaults::LateCommits();
  if (!late) Unregister(streams());
  std::vector<StoreStreamEnd> ends;
  for (const StreamPtr& stream : streams()) ends.push_back(stream->endState());

  JobManifest manifest;
  CCommitHandlerPtr handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    manifest_.ended = true;
    manifest_.endStatus = status;
    manifest_.endTime = static_cast<int64_t>(std::time(nullptr));
    manifest_.streamEnds = ends;
    manifest = manifest_;
    if (!late) handler.swap(callback_);
  }
  OBJSTORE_LOG(1, "INFO: pipeline job [%lld] ended with status [%d] in [%s]",
               static_cast<long long>(jobId_), static_cast<int>(status), runDir_.c_str());
  error = manifest.writeTo(runDir_);
  if (error.IsError()) return error.Push(UX_CODE_LOCATION);
  return CUxError();
}

void PipelineJob::abandon() {
  CCommitHandlerPtr handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ending_) return;
    ending_ = true;
  }
  OBJSTORE_LOG(-1, "WARN: pipeline job [%lld] dropped without endBackup; [%s] stays unfinished",
               static_cast<long long>(jobId_), runDir_.c_str());
  stopCommitThread(false);
  closeStreams();
  Unregister(streams());
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  handler.swap(callback_);
}

CUxError PipelineJob::deliverCommit(uint32_t aFileId, const std::string& sequence) {
  CUxError error = checkOwnsStream(aFileId);
  if (error.IsError()) return error;
  CCommitHandlerPtr handler = callback();
  if (!handler) {
    return UX_ERROR(kPipelineNoCallback, "job [%lld] has no commit handler",
                    static_cast<long long>(jobId_));
  }
  std::string text = sequence;
  return handler->commitUpdate(aFileId, text);
}

CUxError PipelineJob::commitNow(uint32_t aFileId, uint64_t* count) {
  StreamPtr stream = findStream(aFileId);
  if (!stream) return checkOwnsStream(aFileId);
  uint64_t committed = 0;
  bool advanced = false;
  CUxError error = stream->commit(&committed, &advanced);
  if (error.GetErrorCode() == kPipelineJobEnded) {
    committed = stream->endState().committed;
  } else if (error.IsError()) {
    return error;
  }
  if (count != nullptr) *count = committed;
  CCommitHandlerPtr handler = callback();
  if (!handler) {
    stream->noteReported(committed);  // nobody to report to: a held sender may go on
    return UX_ERROR(kPipelineNoCallback, "job [%lld] has no commit handler",
                    static_cast<long long>(jobId_));
  }
  std::string text = std::to_string(committed);
  error = handler->commitUpdate(aFileId, text);
  stream->noteReported(committed);
  return error;
}

CUxError PipelineJob::postCommit(uint32_t aFileId, const std::string& sequence) {
  CUxError error = checkOwnsStream(aFileId);
  if (error.IsError()) return error;
  signal_->post(aFileId, sequence);
  return CUxError();
}

void PipelineJob::runCommitThread() {
  tCommitThreadJob = this;
  for (;;) {
    CommitSignal::Work work = signal_->take();
    for (auto& posted : work.posted) report(posted.first, posted.second);
    if (work.stopping) {
      if (work.finalCommits) commitFinally();
      break;
    }
    CommitSignal::Clock::time_point nextDue = CommitSignal::Clock::time_point::max();
    if (!PipelineFaults::ManualCommit()) commitDueStreams(&nextDue);
    signal_->waitUntil(nextDue);
  }
  tCommitThreadJob = nullptr;
}

void PipelineJob::commitDueStreams(CommitSignal::Clock::time_point* nextDue) {
  for (const StreamPtr& stream : streams()) {
    if (signal_->stopRequested()) return;  // the final commits take over
    if (stream->commitDue(CommitSignal::Clock::now(), nextDue)) {
      commitAndReport(stream.get(), false);
    }
  }
}

void PipelineJob::commitFinally() {
  for (const StreamPtr& stream : streams()) commitAndReport(stream.get(), true);
}

void PipelineJob::commitAndReport(PipelineStream* stream, bool onlyIfAdvanced) {
  uint64_t count = 0;
  bool advanced = false;
  CUxError error = stream->commit(&count, &advanced);
  if (error.IsError()) {
    // A stream closed by abandon() from a notification is no news.
    if (error.GetErrorCode() != kPipelineJobEnded) {
      OBJSTORE_LOG(-1, "ERROR: commit of stream [%u] failed: %s", stream->aFileId(),
                   error.AsString().c_str());
    }
    return;
  }
  OBJSTORE_LOG(3, "INFO: stream [%u] committed [%llu] items", stream->aFileId(),
               static_cast<unsigned long long>(count));
  if (shouldReport(stream->aFileId(), onlyIfAdvanced && !advanced)) {
    report(stream->aFileId(), std::to_string(count));
  }
  // Reported, or nobody to report to: a sender under flow control may go on either way.
  stream->noteReported(count);
}

bool PipelineJob::shouldReport(uint32_t aFileId, bool nothingNew) {
  if (nothingNew || PipelineFaults::ManualCommit()) return false;
  if (!commitCallbackEnabled_) {
    OBJSTORE_LOG(3, "INFO: job [%lld] has commit callbacks off; stream [%u] not reported",
                 static_cast<long long>(jobId_), aFileId);
    return false;
  }
  return true;
}

void PipelineJob::report(uint32_t aFileId, const std::string& sequence) {
  CCommitHandlerPtr handler = callback();
  if (!handler) {
    OBJSTORE_LOG(2, "INFO: no commit handler yet; stream [%u] at [%s] not reported", aFileId,
                 sequence.c_str());
    return;
  }
  uint32_t delayMs = PipelineFaults::CommitDelayMs();
  if (delayMs != 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  OBJSTORE_LOG(2, "INFO: reporting commit of stream [%u] at [%s]", aFileId, sequence.c_str());
  CUxError error = CallCommitUpdate(handler, aFileId, sequence);
  if (error.IsError()) {
    OBJSTORE_LOG(-1, "ERROR: commitUpdate of stream [%u] at [%s] failed: %s", aFileId,
                 sequence.c_str(), error.AsString().c_str());
  }
}

void PipelineJob::stopCommitThread(bool finalCommits) {
  signal_->stop(finalCommits);
  if (!commitThread_.joinable()) return;
  if (onCommitThread()) {
    commitThread_.detach();  // it ends once the notification that got here returns
  } else {
    commitThread_.join();
  }
}

void PipelineJob::closeStreams() {
  for (const StreamPtr& stream : streams()) stream->close();
}

bool PipelineJob::onCommitThread() const {
  return tCommitThreadJob == this;
}

std::vector<PipelineJob::StreamPtr> PipelineJob::streams() {
  std::lock_guard<std::mutex> lock(mutex_);
  return streams_;
}

CCommitHandlerPtr PipelineJob::callback() {
  std::lock_guard<std::mutex> lock(mutex_);
  return callback_;
}

PipelineJob::StreamPtr PipelineJob::findStream(uint32_t aFileId) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const StreamPtr& stream : streams_) {
    if (stream->aFileId() == aFileId) return stream;
  }
  return StreamPtr();
}

bool PipelineJob::ownsStream(uint32_t aFileId) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const StreamPtr& stream : streams_) {
    if (stream->aFileId() == aFileId) return true;
  }
  return false;
}

CUxError PipelineJob::checkOwnsStream(uint32_t aFileId) {
  if (ownsStream(aFileId)) return CUxError();
  return UX_ERROR(kPipelineUnknownStream, "job [%lld] has no stream with aFile ID [%u]",
                  static_cast<long long>(jobId_), aFileId);
}

}  // namespace OBJECTOPSAPI
