// BackupStoreReader: reads back what the pipeline stored (the layout is in StoreFormat.h).
//
// A store holds runs: one per start of a job, each with the job's manifest and its streams.
// listRuns() gives every run with its streams and their committed counts; StoreStreamReader
// (StoreStreamReader.h) then walks one stream item by item, so a store of any size is read with
// the memory of one item.
//
//   BackupStoreReader reader(storeDir);
//   std::vector<StoreRun> runs;
//   CUxError error = reader.listRuns(&runs);
//   for (const StoreRun& run : runs)
//     for (const StoreStreamInfo& stream : run.streams) {
//       StoreStreamReader items;
//       error = items.open(stream);
//       StoreItem item;
//       bool more = false;
//       for (error = items.next(&item, &more); !error.IsError() && more;
//            error = items.next(&item, &more)) {
//         ... item.sections, item.success, item.committed ...
//       }
//     }
//
// Reading does not lock anything: a store that a running job is writing can be read, and shows
// what had reached the files at that moment. Objects are not shared by threads.
#ifndef OBJSTORE_PIPELINE_BACKUPSTOREREADER_H_
#define OBJSTORE_PIPELINE_BACKUPSTOREREADER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "CUxError.h"
#include "JobManifest.h"

namespace OBJECTOPSAPI {

struct StoreStreamInfo {
  uint32_t aFileId = 0;
  std::string dataPath;         // the stream's data file
  uint64_t committedCount = 0;  // items 0 .. committedCount-1 are committed
};

struct StoreRun {
  std::string dir;  // the run directory
  JobManifest manifest;
  std::vector<StoreStreamInfo> streams;  // by aFile ID, ascending
};

class BackupStoreReader {
 public:
  // `storeDir` empty: the directory a job started now would use (PipelineOptions).
  explicit BackupStoreReader(const std::string& storeDir = "");

  const std::string& storeDir() const { return storeDir_; }

  // Every run in the store, ordered by job id, then start time. A missing store has no runs.
  // Directories that are not runs (no manifest) are skipped with a warning in the log; a
  // damaged manifest or committed count is an error.
  CUxError listRuns(std::vector<StoreRun>* runs) const;
  // The runs of one job id, oldest first.
  CUxError listRunsOfJob(int64_t jobId, std::vector<StoreRun>* runs) const;

  // Reads one run directory.
  static CUxError ReadRun(const std::string& runDir, StoreRun* run);

 private:
  std::string storeDir_;
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_BACKUPSTOREREADER_H_
