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
  std::string dataPath;       // the stream's data file
  std::string committedPath;  // its committed file
  // Items 0 .. committedCount-1 are committed: the count the manifest of an ended run recorded
  // for the stream, else what its committed file says (0 when there is none).
  uint64_t committedCount = 0;
  bool hasCommittedFile = false;
  uint64_t committedFileCount = 0;  // what the committed file says
  bool runEnded = false;            // the run's manifest says it ended ...
  bool endRecorded = false;         // ... and lists this stream
  StoreStreamEnd end;               // what it lists
};

struct StoreRun {
  std::string dir;       // the run directory
  JobManifest manifest;  // when it cannot be read: only jobId, from the directory's name
  std::vector<StoreStreamInfo> streams;  // by aFile ID, ascending
  // Damage that concerns the run as a whole (an unreadable manifest or committed file, a stream
  // the manifest lists whose data file is missing, a manifest whose job and run ids are not the
  // directory's name), one line each naming the file.
  std::vector<std::string> problems;
};

class BackupStoreReader {
 public:
  // `storeDir` empty: the directory a job started now would use (PipelineOptions).
  explicit BackupStoreReader(const std::string& storeDir = "");

  const std::string& storeDir() const { return storeDir_; }

  // Every run in the store, ordered by job id, then start time. A missing store has no runs.
  // Only regular files and directories are read: links, FIFOs and devices inside the store are
  // damage (StoreIo::OpenRegularFile), and a link to a directory is no run.
  // Directories without a manifest are skipped with a warning in the log (not a run, or a start
  // that died before it wrote its manifest), unless a stream of theirs holds data: then the
  // manifest was lost, and the run is listed with that problem. A damaged run is listed with its
  // problems; only a store that cannot be listed is an error.
  CUxError listRuns(std::vector<StoreRun>* runs) const;
  // The runs of one job id, oldest first.
  CUxError listRunsOfJob(int64_t jobId, std::vector<StoreRun>* runs) const;

  // Reads one run directory; damage goes into run->problems. Errors: the directory cannot be
  // listed.
  static CUxError ReadRun(const std::string& runDir, StoreRun* run);

 private:
  std::string storeDir_;
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_BACKUPSTOREREADER_H_
