// ChunkCommitHandler: receives the pipeline's commit notifications for one controller.
#ifndef OBJSTORE_BACKUP_CHUNKCOMMITHANDLER_H_
#define OBJSTORE_BACKUP_CHUNKCOMMITHANDLER_H_

#include <cstdint>
#include <string>

#include "CCommitHandler.h"
#include "CUxError.h"
#include "ObjStoreExport.h"

namespace ObjectStore {

class BackupInterface;
typedef boost::shared_ptr<BackupInterface> BackupInterfacePtr;

class OBJSTORE_API ChunkCommitHandler : public OBJECTOPSAPI::CCommitHandler {
 public:
  // Keeps `owner` alive for the handler's whole life.
  explicit ChunkCommitHandler(BackupInterfacePtr owner);
  virtual ~ChunkCommitHandler();

  // Moves the items that `sequenceNumber` covers out of the stream's cache and hands them,
  // oldest first, to the controller's callback (also when there are none; not at all when no
  // callback is set). Runs under gStreamLock. Error 232 when no stream cache has this aFile ID.
  // A stream of an ended job that this commit leaves empty leaves the registry: later
  // notifications for it get error 232 too.
  virtual CUxError commitUpdate(uint64_t aFileId, std::string& sequenceNumber);

 private:
  // The controller that the base keeps alive: the pipeline's commit handler offers no way back
  // to its owner, so the handler remembers it itself.
  BackupInterface* const controller;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_CHUNKCOMMITHANDLER_H_
