// NFSObjectStorePLConfigurator: adds the object store's settings to every job's pipeline and
// archive arguments. One instance serves the process (gConfigurator); stateless and thread-safe.
#ifndef OBJSTORE_BACKUP_NFSOBJECTSTOREPLCONFIGURATOR_H_
#define OBJSTORE_BACKUP_NFSOBJECTSTOREPLCONFIGURATOR_H_

#include "CUxError.h"
#include "FVBase.h"
#include "ObjStoreExport.h"
#include "PipelineArgs.h"
#include "PipelineConfiurator.h"

namespace ObjectStore {

class OBJSTORE_API NFSObjectStorePLConfigurator : public OBJECTOPSAPI::PipelineConfiurator {
 public:
  virtual ~NFSObjectStorePLConfigurator();

  // Attaches a new extra configuration record whose third text is "%NFS_OBJSTORE%" (the
  // argument record owns it from then on) and sets extraSetting to 0.
  virtual CUxError configurePipelineArguments(OBJECTOPSAPI::SetupPipelineArgs_t* args,
                                              OBJECTOPSAPI::FVBasePtr owner);
  // Sets bit 21 (0x200000) of archiveFlags, keeping the others.
  virtual CUxError configureArchiveArguments(OBJECTOPSAPI::CreateArgs_t* args,
                                             OBJECTOPSAPI::FVBasePtr owner);
};

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_NFSOBJECTSTOREPLCONFIGURATOR_H_
