#include "ChunkCommitHandler.h"

#include <utility>

#include "KaCriticalSectionLock.h"
#include "LogWriter.h"
#include "ObjStoreBackupInterface.h"
#include "StreamRegistry.h"

namespace ObjectStore {

namespace {
const uint32_t kErrStreamNotFound = 232;
}

ChunkCommitHandler::ChunkCommitHandler(BackupInterfacePtr ownerPtr)
    : OBJECTOPSAPI::CCommitHandler(OBJECTOPSAPI::FVBasePtr()),
      owner(ownerPtr),
      controller(ownerPtr) {}

ChunkCommitHandler::~ChunkCommitHandler() {}

void ChunkCommitHandler::releaseOwner() {
  BackupInterfacePtr released;  // the controller may go here: outside the lock
  KaCriticalSectionLock lock(&ownerLock);
  released.swap(owner);
}

CUxError ChunkCommitHandler::commitUpdate(uint64_t aFileId, std::string& sequenceNumber) {
  // Declared before the lock: should the host let go meanwhile, the controller (and with it the
  // pipeline job) goes after gStreamLock is left.
  const BackupInterfacePtr current = controller.lock();
  if (!current) {
    OBJSTORE_LOG(-1,
                 " stream cache not found for given aFileId [ %lu]: its job's controller is gone",
                 static_cast<unsigned long>(aFileId));
    return UX_ERROR(kErrStreamNotFound, "given AFile ID [%lu]is not found",
                    static_cast<unsigned long>(aFileId));
  }
  std::list<std::string> committed;
  KaCriticalSectionLock lock(&gStreamLock);
  std::map<uint32_t, StreamInfoPtr>::iterator it = gStreams.find(static_cast<uint32_t>(aFileId));
  if (it == gStreams.end()) {
    OBJSTORE_LOG(-1, " stream cache not found for given aFileId [ %lu]",
                 static_cast<unsigned long>(aFileId));
    return UX_ERROR(kErrStreamNotFound, "given AFile ID [%lu]is not found",
                    static_cast<unsigned long>(aFileId));
  }
  const StreamInfoPtr stream = it->second;
  // The callback this commit reports to, read once: a setCallBack meanwhile takes effect from
  // the next commit on.
  CommitCallBack callBack = nullptr;
  void* context = nullptr;
  current->getCallBack(&callBack, &context);
  if (callBack == nullptr) {
    // Nobody to tell: the items stay uncommitted, and the number waits for the next callback
    // set (setCallBack) or the next commit, whichever comes first; without either, endBackup
    // hands the items back.
    OBJSTORE_LOG(1, "INFO: no commit callback set; commit of stream [%lu] at [%s] kept",
                 static_cast<unsigned long>(aFileId), sequenceNumber.c_str());
    stream->noteUnreportedCommit(sequenceNumber);
    return CUxError();
  }
  stream->getCommitGUIDList(sequenceNumber, committed);
  DropStreamIfDone(stream);
  OBJSTORE_LOG(2, "CommitCallBack: streamId [%llu] Commited Count [%d]",
               static_cast<unsigned long long>(aFileId), static_cast<int>(committed.size()));
  callBack(static_cast<uint32_t>(aFileId), std::move(committed), context);
  return CUxError();
}

}  // namespace ObjectStore
