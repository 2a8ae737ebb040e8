#include "CSynchronousBackup.h"

#include <memory>

#include "JobManifest.h"
#include "LogWriter.h"
#include "PipelineErrors.h"
#include "PipelineFaults.h"
#include "PipelineJob.h"
#include "PipelineOptions.h"

namespace OBJECTOPSAPI {

namespace {

// Lets the job's configurator add its settings to the pipeline and archive arguments and notes
// what it set in `manifest`. The extra configuration record it attaches belongs to the pipeline,
// which keeps only the copy in the manifest.
CUxError Configure(const JobInfo& info, JobManifest* manifest) {
  const PipelineConfiuratorPtr& configurator = info.pipelineConfigurator;
  if (!configurator) return CUxError();

  SetupPipelineArgs_t setup;
  setup.numStreams = info.numStreams;
  setup.jobId = info.jobId;
  CUxError error = configurator->configurePipelineArguments(&setup, FVBasePtr());
  std::unique_ptr<PipelineExtraConfig_t> extra(setup.extraConfig);
  setup.extraConfig = nullptr;
  if (error.IsError()) return error.Push(UX_CODE_LOCATION);
  if (extra) {
    manifest->hasExtraConfig = true;
    manifest->configText1 = extra->configText1;
    manifest->configText2 = extra->configText2;
    manifest->configText3 = extra->configText3;
    manifest->configNumbers = extra->configNumbers;
  }
  manifest->extraSetting = setup.extraSetting;

  CreateArgs_t create;
  create.jobId = info.jobId;
  error = configurator->configureArchiveArguments(&create, FVBasePtr());
  if (error.IsError()) return error.Push(UX_CODE_LOCATION);
  manifest->archiveFlags = create.archiveFlags;
  return CUxError();
}

}  // namespace

CUxError CSynchronousBackup::getController(JobInfoPtr jobInfo, CSynchronousBackupPtr& out) {
  if (!jobInfo) return UX_ERROR(kPipelineInvalidArgument, "getController without a job");
  CUxError error = PipelineFaults::Check(PipelineFaults::kGetController, 0);
  if (error.IsError()) return error;

  JobManifest manifest;
  manifest.jobId = jobInfo->jobId;
  manifest.appId = jobInfo->appId;
  manifest.numStreams = jobInfo->numStreams;
  manifest.commitCallbackEnabled = jobInfo->enableCommitCallBack;
  error = Configure(*jobInfo, &manifest);
  if (error.IsError()) {
    OBJSTORE_LOG(-1, "ERROR: configurator of job [%lld] failed: %s",
                 static_cast<long long>(jobInfo->jobId), error.AsString().c_str());
    return error.Push(UX_CODE_LOCATION);
  }

  boost::shared_ptr<PipelineJob> job;
  error = PipelineJob::Start(manifest, PipelineOptions::Current(), &job);
  if (error.IsError()) {
    OBJSTORE_LOG(-1, "ERROR: pipeline job [%lld] cannot start: %s",
                 static_cast<long long>(jobInfo->jobId), error.AsString().c_str());
    return error.Push(UX_CODE_LOCATION);
  }
  out.reset(new CSynchronousBackup(job));
  return CUxError();
}

CSynchronousBackup::CSynchronousBackup(boost::shared_ptr<PipelineJob> job) : job_(job) {}

CSynchronousBackup::~CSynchronousBackup() {
  job_->abandon();
}

CUxError CSynchronousBackup::getStreamHandler(CStreamHandlerPtr& out) {
  CUxError error = PipelineFaults::Check(PipelineFaults::kGetStreamHandler, 0);
  if (error.IsError()) return error;
  boost::shared_ptr<PipelineStream> stream;
  error = job_->openStream(&stream);
  if (error.IsError()) return error;
  out.reset(new CStreamHandler(stream));
  return CUxError();
}

CUxError CSynchronousBackup::releaseStreamHandler(CStreamHandlerPtr& handler) {
  if (!handler) return UX_ERROR(kPipelineInvalidArgument, "releaseStreamHandler without a handler");
  return job_->releaseStream(handler->stream_.get());
}

void CSynchronousBackup::setCallbackObject(CCommitHandlerPtr& handler) {
  job_->setCallback(handler);
}

CUxError CSynchronousBackup::endBackup(KAJobStatus status) {
  return job_->end(status);
}

}  // namespace OBJECTOPSAPI
