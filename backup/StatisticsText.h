// Renderings of a statistics snapshot: JSON with stable field names, and the Prometheus text
// exposition format. Field and metric names are documented in the host developers' guide; new
// ones may be added, none is renamed or removed.
#ifndef OBJSTORE_BACKUP_STATISTICSTEXT_H_
#define OBJSTORE_BACKUP_STATISTICSTEXT_H_

#include <string>

#include "BackupStatistics.h"
#include "ObjStoreExport.h"

namespace ObjectStore {

// One JSON object: {"taken_at": ..., "controllers": [...], "other_streams": [...]}.
OBJSTORE_API std::string StatisticsToJson(const ProcessStatistics& statistics);

// Metric families objstore_backup_..., one sample per stream (labels job_id, app_id, afile_id)
// and per job; counters end in _total, the commit latency is a histogram in seconds.
OBJSTORE_API std::string StatisticsToPrometheus(const ProcessStatistics& statistics);

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_STATISTICSTEXT_H_
