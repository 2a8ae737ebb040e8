// PipelineJob: the pipeline's state of one running job: its run directory in the backup store,
// its streams, its commit handler and the commit thread that commits the streams and reports
// each commit through the handler's commitUpdate.
//
// Threads: any thread may call the operations. The commit thread calls commitUpdate holding no
// pipeline lock, so the handler may take its own locks even while one of its threads is inside
// a send that waits for a pipeline lock. The job stays alive while its commit thread runs.
#ifndef OBJSTORE_PIPELINE_PIPELINEJOB_H_
#define OBJSTORE_PIPELINE_PIPELINEJOB_H_

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CCommitHandler.h"
#include "CUxError.h"
#include "CommitSignal.h"
#include "JobInfo.h"
#include "JobManifest.h"
#include "PipelineOptions.h"
#include "PipelineStream.h"

namespace OBJECTOPSAPI {

class PipelineJob : public boost::enable_shared_from_this<PipelineJob> {
 public:
  typedef boost::shared_ptr<PipelineStream> StreamPtr;

  // Creates the run directory "<store>/<jobId>.<runId>" with the job's manifest (runId, start
  // time and pid are filled in here) and starts the commit thread.
  static CUxError Start(JobManifest manifest, const PipelineOptions& options,
                        boost::shared_ptr<PipelineJob>* out);
  // The running job that owns the stream `aFileId`; empty when none does.
  static boost::shared_ptr<PipelineJob> FindByAfileId(uint32_t aFileId);

  ~PipelineJob();
  PipelineJob(const PipelineJob&) = delete;
  PipelineJob& operator=(const PipelineJob&) = delete;

  const std::string& runDir() const { return runDir_; }
  int64_t jobId() const { return jobId_; }

  // Opens the job's next stream, with a new aFile ID; at most numStreams per job.
  CUxError openStream(StreamPtr* out);
  // Later sends on the stream fail; its items are still committed at the end of the job.
  // Releasing twice is harmless; a stream of another job is refused.
  CUxError releaseStream(PipelineStream* stream);
  // Replaces the commit handler; ignored once the job has ended.
  void setCallback(const CCommitHandlerPtr& handler);

  // Commits every stream holding uncommitted items and reports those commits, stops the commit
  // thread, closes the streams, records the end status and drops the commit handler (with late
  // commits in manual commit mode it keeps the handler, and its streams stay found by aFile ID,
  // until the job goes).
  // Must not be called from a commit notification (that is, on the commit thread).
  CUxError end(KAJobStatus status);
  // For a job dropped without end(): stops the commit thread without further commits and closes
  // the streams. The run stays without an end status, like one whose process died.
  void abandon();

  // Calls the handler's commitUpdate on the calling thread / queues it for the commit thread.
  CUxError deliverCommit(uint32_t aFileId, const std::string& sequence);
  CUxError postCommit(uint32_t aFileId, const std::string& sequence);
  // Commits the stream on the calling thread (after the end: takes its last committed count) and
  // calls the handler's commitUpdate with the count (PipelineFaults::CommitAndDeliver).
  CUxError commitNow(uint32_t aFileId, uint64_t* count);

 private:
  PipelineJob(const JobManifest& manifest, const PipelineOptions& options, std::string runDir);

  void runCommitThread();
  void commitDueStreams(CommitSignal::Clock::time_point* nextDue);
  void commitFinally();
  // Commits one stream and reports it (unless commits are manual, or `onlyIfAdvanced` and the
  // count did not grow).
  void commitAndReport(PipelineStream* stream, bool onlyIfAdvanced);
  bool shouldReport(uint32_t aFileId, bool nothingNew);
  // Calls the handler's commitUpdate after the commit delay; failures are logged.
  void report(uint32_t aFileId, const std::string& sequence);
  void stopCommitThread(bool finalCommits);
  void closeStreams();
  bool onCommitThread() const;

  std::vector<StreamPtr> streams();
  CCommitHandlerPtr callback();
  bool ownsStream(uint32_t aFileId);
  StreamPtr findStream(uint32_t aFileId);
  CUxError checkOwnsStream(uint32_t aFileId);

  const int64_t jobId_;
  const uint32_t numStreams_;
  const bool commitCallbackEnabled_;
  const PipelineOptions options_;
  const std::string runDir_;
  const boost::shared_ptr<CommitSignal> signal_;

  std::mutex mutex_;  // guards everything below; never held while calling out
  JobManifest manifest_;
  std::vector<StreamPtr> streams_;
  CCommitHandlerPtr callback_;
  bool ending_ = false;  // end() or abandon() is running or done
  bool ended_ = false;

  std::thread commitThread_;  // touched only by Start and whoever stops the job
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_PIPELINEJOB_H_
