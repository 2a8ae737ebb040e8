// The controller registry, job start and the controller's small operations.
#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <utility>

#include "ApplicationHistory.h"
#include "CUxDirectory.h"
#include "HostCommitReport.h"
#include "JobStatus.h"
#include "KaCriticalSectionLock.h"
#include "LogWriter.h"
#include "ObjStoreBackupInterface.h"
#include "ObjectStoreJobInfo.h"
#include "RestartWait.h"
#include "RetiredStatistics.h"
#include "StreamRegistry.h"
#include "StreamSlots.h"

namespace ObjectStore {

using OBJECTOPSAPI::CStreamHandlerPtr;
using OBJECTOPSAPI::CSynchronousBackup;
using OBJECTOPSAPI::JobInfoPtr;

std::map<int32_t, boost::weak_ptr<BackupInterface> > gObjToAppIdMap;
KaCriticalSection gObjectCreationLock;
OBJECTOPSAPI::PipelineConfiuratorPtr gConfigurator;

namespace {

bool IsDirectory(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Guards the first creation of gConfigurator, which happens before gObjectCreationLock is taken.
KaCriticalSection& ConfiguratorLock() {
  static KaCriticalSection lock;
  return lock;
}

OBJECTOPSAPI::PipelineConfiuratorPtr InstallConfigurator() {
  KaCriticalSectionLock lock(&ConfiguratorLock());
  if (!gConfigurator) gConfigurator.reset(new NFSObjectStorePLConfigurator());
  return gConfigurator;
}

// The registered, still living controller of `appId`, or null.
BackupInterfacePtr FindRegisteredController(int32_t appId) REQUIRES(gObjectCreationLock) {
  std::map<int32_t, boost::weak_ptr<BackupInterface> >::iterator it = gObjToAppIdMap.find(appId);
  if (it == gObjToAppIdMap.end()) return BackupInterfacePtr();
  BackupInterfacePtr found = it->second.lock();
  if (!found) {
    // The host dropped this controller without ending its backup: start afresh.
    OBJSTORE_LOG(1, "INFO: BackupController of app ID [%d] is gone; creating a new one", appId);
  }
  return found;
}

}  // namespace

CUxError BackupInterface::getController(JobInfoPtr jobInfo, BackupInterfacePtr& out,
                                        bool isRestartThread) {
  if (!jobInfo) return UX_ERROR(EINVAL, "getController needs a job description");
  if (jobInfo->numStreams == 0) {
    // Refused before any job, directory or registry entry exists that a later start could
    // mistake for a crashed job's.
    OBJSTORE_LOG(-1, "ERROR: job [%lld] asks for no stream, failing initialization",
                 static_cast<long long>(jobInfo->jobId));
    return UX_ERROR(kErrNoStreamHandlers, "a job needs at least one stream");
  }
  waitForRestartThread(static_cast<uint32_t>(jobInfo->appId), isRestartThread);
  jobInfo->pipelineConfigurator = InstallConfigurator();

  KaCriticalSectionLock lock(&gObjectCreationLock);
  BackupInterfacePtr existing = FindRegisteredController(jobInfo->appId);
  if (existing) {
    out = existing;
    OBJSTORE_LOG(1, "INFO: BackupController [%lux] found in map",
                 reinterpret_cast<unsigned long>(existing.get()));
    return CUxError();
  }

  BackupInterfacePtr created(new BackupInterface(jobInfo));
  CUxError error = created->init(jobInfo);
  if (error.IsError()) {
    OBJSTORE_LOG(-1, "ERROR: BackupInterface backup object initialization failed");
    return error;
  }
  gObjToAppIdMap[jobInfo->appId] = created;
  NoteJobStarted(created, jobInfo->appId, jobInfo->jobId, created->startTime);
  out = created;
  created->startCommitHandler(created);
  OBJSTORE_LOG(1, "INFO: New BackupController [%lux] created",
               reinterpret_cast<unsigned long>(created.get()));
  return CUxError();
}

void BackupInterface::waitForRestartThread(uint32_t appId, bool isRestartThread) {
  if (isRestartThread) {
    OBJSTORE_LOG(4, "This is restart thread. So return from waitforRestartThread function.");
    return;
  }
  WaitWhileRestarting(appId, GetBackupOptions().restartWaitMs);
}

BackupInterface::BackupInterface(JobInfoPtr info)
    : callBack(nullptr),
      callBackContext(nullptr),
      streams(new StreamSlots),
      jobInfo(info),
      options(GetBackupOptions()),
      startTime(static_cast<int64_t>(std::time(nullptr))) {}

BackupInterface::~BackupInterface() {
  OBJSTORE_LOG(5, "Destroying BackupInterface");
  pipelineJob.reset();
  KaCriticalSectionLock lock(&callBackLock);
  commitHandler.reset();
}

CUxError BackupInterface::init(JobInfoPtr info) {
  OBJSTORE_LOG(3, "Enabling commit call back from pipeline ");
  info->enableCommitCallBack = true;
  CUxError error = CSynchronousBackup::getController(info, pipelineJob);
  if (error.IsError()) return error.Push(UX_CODE_LOCATION);

  boost::shared_ptr<ObjStoreJobInfo> jobCache(new ObjStoreJobInfo(*info));
  // A directory that is there already is a leftover this job takes over: a failed start leaves
  // it to the restart that needs it.
  const std::string jobDirectory = ObjectStoreStatic::rootDir + "/" + std::to_string(info->jobId);
  const bool madeJobDirectory = !IsDirectory(jobDirectory);
  if (!jobCache->init()) {
    OBJSTORE_LOG(-1, "ERROR: jobCache init failed, stopping job and closing session");
    return failStart(kJobStatusEnded, jobDirectory, madeJobDirectory,
                     UX_ERROR(kErrJobCacheInit, "jobCache init failed"));
  }
  try {
    return openStreams(*info, jobCache->getBasePath(), jobDirectory, madeJobDirectory);
  } catch (...) {
    // A pipeline that throws leaves the start half made: undo it, then let the caller see why.
    failStart(kJobStatusEnded, jobDirectory, madeJobDirectory, CUxError());
    throw;
  }
}

CUxError BackupInterface::openStreams(const OBJECTOPSAPI::JobInfo& info,
                                      const std::string& jobBasePath,
                                      const std::string& jobDirectory, bool madeJobDirectory) {
  for (uint64_t i = 1; i <= info.numStreams; ++i) {
    CStreamHandlerPtr handler;
    if (pipelineJob->getStreamHandler(handler).IsError()) {
      OBJSTORE_LOG(-1, "ERROR: getting StreamHandler failed. Temporarily continuing.");
      continue;
    }
    StreamInfoPtr stream = registerStreamCache(handler->getAfileID(), jobBasePath);
    if (!stream) {
      OBJSTORE_LOG(-1, "ERROR: StreamCache init failed, stopping job and closing session");
      return failStart(kJobStatusEnded, jobDirectory, madeJobDirectory,
                       UX_ERROR(kErrJobCacheInit, "StreamCache init failed"));
    }
    streams->add(handler, stream);
  }
  if (streams->size() != 0) return CUxError();
  OBJSTORE_LOG(-1, "ERROR: no stream handlers found, failing initialization");
  return failStart(kJobStatusNoStream, jobDirectory, madeJobDirectory,
                   UX_ERROR(kErrNoStreamHandlers,
                            "we didn't get even one stream handler, failing initialization"));
}

CUxError BackupInterface::failStart(OBJECTOPSAPI::KAJobStatus status,
                                    const std::string& jobDirectory, bool removeJobDirectory,
                                    CUxError error) {
  try {
    pipelineJob->endBackup(status);
  } catch (const std::exception& exception) {
    OBJSTORE_LOG(-1, "ERROR: ending the job of a failed start threw: %s", exception.what());
  }
  {
    // The records of a job that never ran hold no item: none stays behind in the registry.
    KaCriticalSectionLock lock(&gStreamLock);
    for (StreamSlot* slot : streams->all()) {
      slot->stream->setQuitFlag();
      DropStreamIfDone(slot->stream);
    }
  }
  if (removeJobDirectory) {
    CUxError removal = CUxDirectory::Remove(jobDirectory.c_str(), true, true);
    if (removal.IsError()) {
      OBJSTORE_LOG(-1, "ERROR: failed to remove the job directory [%s].", jobDirectory.c_str());
    }
  }
  return error;
}

StreamInfoPtr BackupInterface::registerStreamCache(uint32_t aFileId,
                                                   const std::string& jobBasePath) {
  StreamInfoPtr stream(new StreamInfo(aFileId, jobBasePath + "/" + std::to_string(aFileId)));
  if (!stream->init()) return StreamInfoPtr();
  if (options.maxUncommitted != 0) stream->setMaxUncommittedCount(options.maxUncommitted);
  stream->setJob(jobInfo->jobId, jobInfo->appId);
  KaCriticalSectionLock lock(&gStreamLock);
  StreamInfoPtr& entry = gStreams[aFileId];
  if (entry) {
    entry->setRegistered(false);  // replaced: its senders find it gone
    RetireStreamStatistics(*entry);
  }
  entry = stream;
  stream->setRegistered(true);
  return stream;
}

// The pipeline gets the handler as soon as the job runs, before any item can be sent: a commit
// that came before the host's first setCallBack would otherwise be seen by nobody, and endBackup
// would hand back items that are stored. Such commits are kept on their records until a
// callback is set (HostCommitReport).
void BackupInterface::startCommitHandler(const BackupInterfacePtr& self) {
  OBJECTOPSAPI::CCommitHandlerPtr handler(new ChunkCommitHandler(self));
  {
    KaCriticalSectionLock lock(&callBackLock);
    commitHandler = handler;
  }
  pipelineJob->setCallbackObject(handler);
}

void BackupInterface::setCallBack(CommitCallBack newCallBack, void* context) {
  {
    KaCriticalSectionLock lock(&callBackLock);
    callBack = newCallBack;
    callBackContext = context;
  }
  if (newCallBack != nullptr) reportKeptCommits();
}

void BackupInterface::reportKeptCommits() {
  for (StreamSlot* slot : streams->all()) {
    HostCommitReport report(*this, HostCommitReport::Source::kKept);
    ReportCommits(slot->stream, report);
  }
}

void BackupInterface::getCallBack(CommitCallBack* current, void** context) {
  KaCriticalSectionLock lock(&callBackLock);
  *current = callBack;
  *context = callBackContext;
}

CUxError BackupInterface::getStreamHandler(CStreamHandlerPtr& handler) {
  CUxError error = pipelineJob ? pipelineJob->getStreamHandler(handler)
                               : UX_ERROR(kErrBackupEnded, "the backup job is not running");
  if (!error.IsError()) return error;
  OBJSTORE_LOG(-1, "ERROR: failed to get the stream");
  return error.Push(UX_CODE_LOCATION);
}

CUxError BackupInterface::releaseStreamHandler(CStreamHandlerPtr& handler) {
  CUxError error = pipelineJob ? pipelineJob->releaseStreamHandler(handler)
                               : UX_ERROR(kErrBackupEnded, "the backup job is not running");
  if (!error.IsError()) return error;
  OBJSTORE_LOG(-1, "ERROR: failed to release the stream");
  return error.Push(UX_CODE_LOCATION);
}

size_t BackupInterface::streamHandlerCount() {
  return streams->size();
}

size_t BackupInterface::freeStreamHandlerCount() {
  return streams->freeSlots().size();
}

CStreamHandlerPtr BackupInterface::streamHandlerAt(size_t index) {
  return streams->handlerAt(index);
}

ControllerStatistics BackupInterface::statistics() {
  ControllerStatistics figures;
  figures.jobId = jobInfo->jobId;
  figures.appId = jobInfo->appId;
  figures.state = jobState.load();
  figures.startTime = startTime;
  for (StreamSlot* slot : streams->all()) {
    figures.streams.push_back(slot->stream->statistics());
    AddStreamStatistics(figures.streams.back(), &figures.total);
  }
  figures.total.jobId = figures.jobId;
  figures.total.appId = figures.appId;
  return figures;
}

bool BackupInterface::holdsCommitHandler() {
  KaCriticalSectionLock lock(&callBackLock);
  return static_cast<bool>(commitHandler);
}

}  // namespace ObjectStore
