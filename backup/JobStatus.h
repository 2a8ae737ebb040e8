// The end statuses that the controller gives the pipeline's endBackup, by value: the pipeline's
// own names for them are its business. Internal to the library.
#ifndef OBJSTORE_BACKUP_JOBSTATUS_H_
#define OBJSTORE_BACKUP_JOBSTATUS_H_

#include "JobInfo.h"

namespace ObjectStore {

// Every end but one.
const OBJECTOPSAPI::KAJobStatus kJobStatusEnded = static_cast<OBJECTOPSAPI::KAJobStatus>(1);
// The start of the job obtained no stream handler.
const OBJECTOPSAPI::KAJobStatus kJobStatusNoStream = static_cast<OBJECTOPSAPI::KAJobStatus>(2);

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_JOBSTATUS_H_
