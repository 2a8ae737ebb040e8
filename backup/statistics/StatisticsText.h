// Renderings of a statistics snapshot: JSON with stable field names, and the Prometheus text
// exposition format. Field and metric names are documented in the host developers' guide; new
// ones may be added, none is renamed or removed. The Prometheus series are per application, so
// that each stays the same series for the life of the process.
#ifndef OBJSTORE_BACKUP_STATISTICSTEXT_H_
#define OBJSTORE_BACKUP_STATISTICSTEXT_H_

#include <string>

#include "BackupStatistics.h"
#include "ObjStoreExport.h"

namespace ObjectStore {

// One JSON object: {"taken_at": ..., "controllers": [...], "other_streams": [...],
// "applications": [...]}; per job and per stream the figures now, per application the totals
// since the process started, its latest job and its last ended job.
OBJSTORE_API std::string StatisticsToJson(const ProcessStatistics& statistics);

// Metric families objstore_backup_..., per application (label app_id, plus cause, reason or le
// where a family has them): counters since the process started, which carry over from job to
// job, so that rate() and histogram_quantile() work across job boundaries; gauges for what is
// uncommitted now, the latest job (job_info, the only family with a job_id label, one sample
// per application) and the last ended job. No label takes a value per job or per stream.
OBJSTORE_API std::string StatisticsToPrometheus(const ProcessStatistics& statistics);

}  // namespace ObjectStore

#endif  // OBJSTORE_BACKUP_STATISTICSTEXT_H_
