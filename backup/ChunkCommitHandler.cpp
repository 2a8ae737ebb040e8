#include "ChunkCommitHandler.h"

#include <utility>

#include "HostCommitReport.h"
#include "KaCriticalSectionLock.h"
#include "LogWriter.h"
#include "ObjStoreBackupInterface.h"

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
  HostCommitReport report(*current, HostCommitReport::Source::kNotification, sequenceNumber,
                          aFileId);
  if (!ReportCommits(static_cast<uint32_t>(aFileId), report)) {
    OBJSTORE_LOG(-1, " stream cache not found for given aFileId [ %lu]",
                 static_cast<unsigned long>(aFileId));
    return UX_ERROR(kErrStreamNotFound, "given AFile ID [%lu]is not found",
                    static_cast<unsigned long>(aFileId));
  }
  return CUxError();
}

}  // namespace ObjectStore
