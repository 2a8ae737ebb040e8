// CSynchronousBackup: the controller of one pipeline backup job.
#ifndef OBJSTORE_PIPELINE_CSYNCHRONOUSBACKUP_H_
#define OBJSTORE_PIPELINE_CSYNCHRONOUSBACKUP_H_

#include <boost/shared_ptr.hpp>

#include "CCommitHandler.h"
#include "CStreamHandler.h"
#include "CUxError.h"
#include "JobInfo.h"

namespace OBJECTOPSAPI {

class PipelineJob;  // the pipeline's own state of one job
class CSynchronousBackup;
typedef boost::shared_ptr<CSynchronousBackup> CSynchronousBackupPtr;

class CSynchronousBackup {
 public:
  // Starts a job for `jobInfo`: calls its configurator (when set), opens the job in the backup
  // store and starts the job's commit thread. On success `out` holds the controller.
  static CUxError getController(JobInfoPtr jobInfo, CSynchronousBackupPtr& out);

  ~CSynchronousBackup();
  CSynchronousBackup(const CSynchronousBackup&) = delete;
  CSynchronousBackup& operator=(const CSynchronousBackup&) = delete;

  // Hands out one of the job's numStreams streams; asking for more is an error.
  CUxError getStreamHandler(CStreamHandlerPtr& out);
  CUxError releaseStreamHandler(CStreamHandlerPtr& handler);

  // From now on commit notifications go to `handler` (the pipeline keeps a reference until
  // endBackup returns).
  void setCallbackObject(CCommitHandlerPtr& handler);

  // Ends the job: commits every stream with uncommitted items, delivers those notifications,
  // stops the commit thread and drops the callback object, then returns.
  CUxError endBackup(KAJobStatus status);

 private:
  explicit CSynchronousBackup(boost::shared_ptr<PipelineJob> job);

  boost::shared_ptr<PipelineJob> job_;
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_CSYNCHRONOUSBACKUP_H_
