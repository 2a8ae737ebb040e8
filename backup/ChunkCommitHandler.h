// ChunkCommitHandler: receives the pipeline's commit notifications for one controller.
#ifndef OBJSTORE_BACKUP_CHUNKCOMMITHANDLER_H_
#define OBJSTORE_BACKUP_CHUNKCOMMITHANDLER_H_

#include <boost/weak_ptr.hpp>
#include <cstdint>
#include <string>

#include "CCommitHandler.h"
#include "CUxError.h"
#include "KaCriticalSection.h"
#include "ObjStoreExport.h"
#include "ThreadAnnotations.h"

namespace ObjectStore {

class BackupInterface;
typedef boost::shared_ptr<BackupInterface> BackupInterfacePtr;

class OBJSTORE_API ChunkCommitHandler : public OBJECTOPSAPI::CCommitHandler {
 public:
  // Keeps `owner` alive until releaseOwner: while the job runs, a host that drops its last
  // pointer to the controller still gets the job's commits reported.
  explicit ChunkCommitHandler(BackupInterfacePtr owner);
  virtual ~ChunkCommitHandler();

  // Moves the items that `sequenceNumber` covers out of the stream's cache and hands them,
  // oldest first, to the controller's callback (also when there are none; not at all when no
  // callback is set). Runs under gStreamLock. Error 232 when no stream cache has this aFile ID.
  // A stream of an ended job that this commit leaves empty leaves the registry: later
  // notifications for it get error 232 too. Once the controller is gone (after releaseOwner),
  // error 232 as well, and the stream keeps its items.
  virtual CUxError commitUpdate(uint64_t aFileId, std::string& sequenceNumber);

  // From now on the handler only refers to its controller, so that the controller goes with
  // the host's last pointer even while the pipeline still holds the handler (a job whose end
  // failed). Thread-safe; called by endBackup.
  void releaseOwner() EXCLUDES(ownerLock);

 private:
  // The base's owner is left empty: it could never be let go of.
  KaCriticalSection ownerLock;
  BackupInterfacePtr owner GUARDED_BY(ownerLock);
  const boost::weak_ptr<BackupInterface> controller;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_CHUNKCOMMITHANDLER_H_
