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

ChunkCommitHandler::ChunkCommitHandler(BackupInterfacePtr owner)
    : OBJECTOPSAPI::CCommitHandler(OBJECTOPSAPI::FVBasePtr(owner)), controller(owner.get()) {}

ChunkCommitHandler::~ChunkCommitHandler() {}

CUxError ChunkCommitHandler::commitUpdate(uint64_t aFileId, std::string& sequenceNumber) {
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
  stream->getCommitGUIDList(sequenceNumber, committed);
  DropStreamIfDone(stream);
  OBJSTORE_LOG(2, "CommitCallBack: streamId [%llu] Commited Count [%d]",
               static_cast<unsigned long long>(aFileId), static_cast<int>(committed.size()));

  controller->reportCommitted(static_cast<uint32_t>(aFileId), std::move(committed));
  return CUxError();
}

}  // namespace ObjectStore
