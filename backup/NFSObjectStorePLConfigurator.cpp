#include "NFSObjectStorePLConfigurator.h"

#include <cerrno>

#include "LogWriter.h"

namespace ObjectStore {

namespace {
const uint64_t kObjectStoreArchiveFlag = 0x200000;
}

NFSObjectStorePLConfigurator::~NFSObjectStorePLConfigurator() {}

CUxError NFSObjectStorePLConfigurator::configurePipelineArguments(
    OBJECTOPSAPI::SetupPipelineArgs_t* args, OBJECTOPSAPI::FVBasePtr /*owner*/) {
  if (args == nullptr) return UX_ERROR(EINVAL, "no pipeline arguments to configure");
  OBJSTORE_LOG(1, "INFO: Operation Type is [TARNBACKUP]. So setting extra pipeLine args");
  OBJECTOPSAPI::PipelineExtraConfig_t* extra = new OBJECTOPSAPI::PipelineExtraConfig_t();
  extra->configText3 = "%NFS_OBJSTORE%";
  args->extraConfig = extra;
  args->extraSetting = 0;
  return CUxError();
}

CUxError NFSObjectStorePLConfigurator::configureArchiveArguments(
    OBJECTOPSAPI::CreateArgs_t* args, OBJECTOPSAPI::FVBasePtr /*owner*/) {
  if (args == nullptr) return UX_ERROR(EINVAL, "no archive arguments to configure");
  args->archiveFlags |= kObjectStoreArchiveFlag;
  return CUxError();
}

}  // namespace ObjectStore
