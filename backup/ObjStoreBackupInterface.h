// The object store's backup controller: one BackupInterface per application, shared by the
// host's threads, that starts a pipeline job, sends cached items on the job's streams, turns the
// pipeline's commit notifications into lists of committed items for the host's callback, and
// ends the job, handing back every item whose commit did not arrive.
//
// Calling order: initBackupInterace, getController, setCallBack, sendItem per item (any number
// of threads), endBackup once no sendItem is running. The commit callback runs while gStreamLock
// is held, usually on a pipeline thread: it must be short and must not call endBackup.
//
// The library's locks, in the order in which they nest: a thread that holds one of them takes
// only locks further down the list.
//   1. gObjectCreationLock      the controller registry; held across a controller's start
//   2. StreamInfo::sendLock     one item's send on a stream, the pipeline's sends included
//   3. gStreamLock              the stream registry; held across the host's commit callback
//   4. failedListLock           moving a stream's items into a host's failed list
//   5. callBackLock             a controller's callback, its context and its commit handler
//   6. StreamInfo::itemListLock a stream's uncommitted items; always the innermost
// gThreadSyncLock, the configurator's lock, a commit handler's ownerLock and the disk cache's
// segment locks are taken alone; the application history's lock (ApplicationHistory.h) alone
// or innermost under 1.
// A commit notification takes 3, 5 and 6; a sender handing its stream back takes 2, 3, 4 and 6.
// None of them is held across a call into the pipeline, and commitUpdate never waits for a
// thread that is inside one: a pipeline may hold a send until that send's commit has been
// reported. A sending thread finds its stream without a lock (StreamSlots.h).
#ifndef OBJSTORE_BACKUP_OBJSTOREBACKUPINTERFACE_H_
#define OBJSTORE_BACKUP_OBJSTOREBACKUPINTERFACE_H_

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BackupOptions.h"
#include "BackupStatistics.h"
#include "CCommitHandler.h"
#include "CSynchronousBackup.h"
#include "CUxError.h"
#include "DiskCache.h"
#include "FVBase.h"
#include "JobInfo.h"
#include "KaCriticalSection.h"
#include "KaEvent.h"
#include "ObjStoreExport.h"
#include "ObjectStoreStatic.h"
#include "ObjectStoreStreamInfo.h"
#include "OpenSegmentInfo.h"
#include "PipelineConfiurator.h"
#include "RestartRegistry.h"
#include "SectionV.h"
#include "ThreadAnnotations.h"

namespace ObjectStore {

// The host's commit callback: the stream's aFile ID, the items now committed on it (oldest
// first) and the context given to setCallBack.
typedef void (*CommitCallBack)(uint32_t aFileId, std::list<std::string> committedItems,
                               void* context);

class BackupInterface;
typedef boost::shared_ptr<BackupInterface> BackupInterfacePtr;
class StreamSlots;
struct StreamSlot;

// Error codes of the controller, beyond those the pipeline and disk cache report.
enum BackupErrorCode : uint32_t {
  kErrHeaderUnparsable = 30,       // no header section, or an unreadable h_filename
  kErrNoCommitInTime = 258,        // a stream's commits did not arrive before the limit
  kErrJobCacheInit = 774,          // job or stream directory could not be set up
  kErrStreamCacheNotFound = 1168,  // no stream cache for the chosen stream
  kErrNoStreamHandlers = 5006,     // the job got no stream handler at all
  kErrBackupEnded = 5007,          // sendItem after endBackup released every stream
  kErrSectionTooLarge = 5008,      // a section of 4 GiB or more cannot be sent
};

class OBJSTORE_API BackupInterface : public OBJECTOPSAPI::FVBase {
 public:
  // Returns the application's controller, creating it (and starting its pipeline job) when none
  // is registered. Waits first while a restart thread of the application is at work, unless the
  // caller is that thread. On failure `out` keeps what it held.
  static CUxError getController(OBJECTOPSAPI::JobInfoPtr jobInfo, BackupInterfacePtr& out,
                                bool isRestartThread);

  explicit BackupInterface(OBJECTOPSAPI::JobInfoPtr jobInfo);
  virtual ~BackupInterface();
  BackupInterface(const BackupInterface&) = delete;
  BackupInterface& operator=(const BackupInterface&) = delete;

  // Starts the pipeline job, writes the job cache and registers one stream cache per stream.
  // Called once, by getController.
  CUxError init(OBJECTOPSAPI::JobInfoPtr jobInfo);

  // Stores the callback and its context; a later call replaces both, and a commit already being
  // reported may still reach the callback it found. The pipeline has had the commit handler
  // since the job started, so no commit goes unseen: while no callback is set (none yet, or a
  // null one), commits leave their items uncommitted and are kept, and this call, with a
  // callback, reports them before it returns. endBackup hands back the items of commits that no
  // callback got. Thread-safe against commit notifications; not from the callback.
  void setCallBack(CommitCallBack callBack, void* context);

  // Pass-through to the pipeline job; the controller's own handler lists are not touched.
  CUxError getStreamHandler(OBJECTOPSAPI::CStreamHandlerPtr& handler);
  CUxError releaseStreamHandler(OBJECTOPSAPI::CStreamHandlerPtr& handler);

  // Sends the cached item `item` (the segment's name) on the stream its header selects.
  // The item is recorded as uncommitted before any byte is sent. On a failed send every
  // uncommitted item of that stream, this one included, is appended to `failedList` and the
  // error returned. `bytesSent` (may be null) grows by each section sent; `streamIndex` (may be
  // null) receives the chosen stream's index. Several threads may call this at once.
  // When a commit covers the item while its end-of-file record is still being sent, this call
  // reports it to the callback itself, on the calling thread, once that record is sent.
  // An exception from the pipeline or the disk cache passes to the caller; the stream handler
  // is free again, and when the item had been recorded, the stream's uncommitted items, this
  // one included, are in `failedList` as after a failed send.
  CUxError sendItem(const char* item, std::list<std::string>& failedList, int64_t* bytesSent,
                    int* streamIndex, DiskCache& cache, DiskCacheContext& context);

  // Refuses new sends (they return 5007), waits for the sends still running, releases the
  // streams, unregisters the controller, ends the pipeline job and, when `waitForCommits`,
  // waits until every stream holds no uncommitted item; one limit of 60 s covers both waits.
  // The items of each stream still holding some then move into `failedList` and the result is
  // error 258. Then removes the job directory. The job's stream records leave gStreams as soon
  // as they hold no item: at once, or (after `waitForCommits` false) when their last commit
  // arrives; those commits go to the callback then set, so such an end needs one. Call it once,
  // after every sendItem on this controller has returned, and never from the commit callback; a
  // call while sends still run is safe all the same (each of their items ends committed or handed
  // back), and a call while another endBackup of this controller runs returns 5007 at once. When
  // the pipeline cannot end the job, its error is returned with nothing waited for or handed back:
  // the items stay in their stream records, the job directory stays, and sends stay refused.
  // Calling endBackup again retries the end; dropping the last pointer instead frees the controller
  // and abandons the job, whose items a later restart resends.
  CUxError endBackup(std::list<std::string>& failedList, bool waitForCommits);

  // Returns at once for the restart thread; otherwise blocks while gThreadSyncMap holds an
  // entry for `appId`.
  static void waitForRestartThread(uint32_t appId, bool isRestartThread);

  // Read-only views, for the host's diagnostics and tests.
  size_t streamHandlerCount();
  size_t freeStreamHandlerCount();
  OBJECTOPSAPI::CStreamHandlerPtr streamHandlerAt(size_t index);
  OBJECTOPSAPI::JobInfoPtr getJobInfo() const { return jobInfo; }
  // False once the backup has ended and the controller let go of its commit handler.
  bool holdsCommitHandler();
  // The job's figures now (BackupStatistics.h). Thread-safe, at any time, also from the commit
  // callback; holds each stream's item lock only to copy its counters.
  ControllerStatistics statistics();

 private:
  friend class ChunkCommitHandler;
  friend class HostCommitReport;         // reads the callback
  friend class BackupInterfaceTestPeer;  // tests look at the commit handler

  // Ends the job of a start that failed with `status`, unregisters the stream records it made
  // and removes the job directory when `removeJobDirectory`; returns `error`.
  CUxError failStart(OBJECTOPSAPI::KAJobStatus status, const std::string& jobDirectory,
                     bool removeJobDirectory, CUxError error);
  // init's second half: a handler and a registered stream cache per stream.
  CUxError openStreams(const OBJECTOPSAPI::JobInfo& info, const std::string& jobBasePath,
                       const std::string& jobDirectory, bool madeJobDirectory);
  // Makes, registers and returns the stream cache of `handler`; null when its directory could
  // not be made.
  StreamInfoPtr registerStreamCache(uint32_t aFileId, const std::string& jobBasePath);
  // Makes the commit handler, which holds `self` (this controller) until the job ends, and hands
  // it to the pipeline.
  void startCommitHandler(const BackupInterfacePtr& self) EXCLUDES(callBackLock);
  // Reports, to the callback now set, what commits covered on each stream while none was.
  void reportKeptCommits() EXCLUDES(callBackLock);
  // The callback and context as one consistent pair.
  void getCallBack(CommitCallBack* callBack, void** context) EXCLUDES(callBackLock);

  // Steps of sendItem.
  CUxError readSections(DiskCache& cache, DiskCacheContext& context, const std::string& item,
                        OpenSegmentInfo* segment, std::vector<SectionV>& sections);
  // The slot of the stream that `checksum` chooses, taken; null (with the error) when the
  // backup has ended.
  StreamSlot* takeStream(int checksum, int* streamIndex, CUxError* error);
  CUxError checkStreamCache(const StreamSlot& slot);
  // `item` is the recorded copy of the name, moved into the stream cache; `itemText` the
  // caller's, for the log.
  CUxError sendOnStream(const StreamInfoPtr& record, OBJECTOPSAPI::CStreamHandler& handler,
                        const char* itemText, std::string item,
                        const std::vector<SectionV>& sections, std::list<std::string>& failedList,
                        int64_t* bytesSent, DiskCache& cache, DiskCacheContext& context)
      REQUIRES(record->sendLock);
  void forceCommitIfDue(const StreamInfoPtr& record, OBJECTOPSAPI::CStreamHandler& handler,
                        DiskCache& cache, DiskCacheContext& context) REQUIRES(record->sendLock);
  void reportIfCovered(const StreamInfoPtr& record) REQUIRES(record->sendLock);
  // Moves every item of `record` into `failedList`; the record leaves the registry when its job
  // has ended.
  void handBack(const StreamInfoPtr& record, std::list<std::string>& failedList,
                HandBackCause cause) EXCLUDES(gStreamLock);

  // Steps of endBackup.
  // Moves to kEnding; false when another endBackup is at it. `before` receives the state left.
  bool beginEnd(JobState* before);
  std::vector<StreamInfoPtr> releaseStreams(std::chrono::steady_clock::time_point deadline);
  void unregister();
  void letGoOfCommitHandler() EXCLUDES(callBackLock);
  void dropEndedStreams(const std::vector<StreamInfoPtr>& records);
  bool waitForStreams(const std::vector<StreamInfoPtr>& records,
                      std::chrono::steady_clock::time_point deadline,
                      std::list<std::string>& failedList);
  void handBackTimedOut(StreamInfo& stream, std::list<std::string>& failedList);
  CUxError removeJobDirectory(bool allCommitted);

  OBJECTOPSAPI::CCommitHandlerPtr commitHandler GUARDED_BY(callBackLock);
  OBJECTOPSAPI::CSynchronousBackupPtr pipelineJob;  // the job this controller runs in the pipeline
  CommitCallBack callBack GUARDED_BY(callBackLock);
  void* callBackContext GUARDED_BY(callBackLock);
  // Every stream handler of the job, in the order obtained, with its stream cache; a handler
  // is free while no sendItem holds it.
  const std::unique_ptr<StreamSlots> streams;
  OBJECTOPSAPI::JobInfoPtr jobInfo;
  const BackupOptions options;  // the process's, when the job started
  KaCriticalSection failedListLock;
  KaCriticalSection callBackLock;
  std::atomic<JobState> jobState{JobState::kRunning};  // only endBackup changes it
  const int64_t startTime;                             // seconds since the epoch
};

// The controller registry: appId -> controller (weak), guarded by gObjectCreationLock.
OBJSTORE_API extern KaCriticalSection gObjectCreationLock;
OBJSTORE_API extern std::map<int32_t, boost::weak_ptr<BackupInterface> > gObjToAppIdMap
    GUARDED_BY(gObjectCreationLock);
// The one pipeline configurator of the process, made by the first getController.
OBJSTORE_API extern OBJECTOPSAPI::PipelineConfiuratorPtr gConfigurator;

}  // namespace ObjectStore

// The commit handler and the configurator belong to the controller's public interface.
#include "ChunkCommitHandler.h"
#include "NFSObjectStorePLConfigurator.h"

#endif  // OBJSTORE_BACKUP_OBJSTOREBACKUPINTERFACE_H_
