// JobManifest: the description of one run of a job, kept as the text file "MANIFEST" in the
// run's directory. One "name=value" line per field after a first line naming the format; values
// escape backslash, line feed and carriage return as \\, \n and \r. A last line "crc32c=<hex>"
// holds the CRC-32C of every byte before it. Written when the job starts and again, with its end
// status and how each stream ended, when it ends; a run without an end status did not end (it is
// still running, or its process died).
#ifndef OBJSTORE_PIPELINE_JOBMANIFEST_H_
#define OBJSTORE_PIPELINE_JOBMANIFEST_H_

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "CUxError.h"

namespace OBJECTOPSAPI {

// How a stream stood when its job ended.
struct StoreStreamEnd {
  uint32_t aFileId = 0;
  uint64_t committed = 0;  // what its committed file says
  bool broken = false;     // a write failed: items after the committed ones may be cut off
};

struct JobManifest {
  std::string runId;  // unique per start of a job; the run directory is "<jobId>.<runId>"
  int64_t jobId = 0;
  int32_t appId = 0;
  uint32_t numStreams = 0;
  bool commitCallbackEnabled = false;
  int64_t startTime = 0;  // seconds since the epoch
  int64_t pid = 0;

  // What the job's configurator set. `hasExtraConfig` says whether it attached an extra
  // configuration record; the texts and numbers are that record's.
  bool hasExtraConfig = false;
  std::string configText1;
  std::string configText2;
  std::string configText3;
  std::list<uint64_t> configNumbers;
  uint64_t extraSetting = 0;
  uint64_t archiveFlags = 0;

  bool ended = false;
  int32_t endStatus = 0;  // the KAJobStatus given to endBackup, once ended
  int64_t endTime = 0;
  std::vector<StoreStreamEnd> streamEnds;  // once ended; by aFile ID

  std::string serialize() const;
  // Fills the fields from serialized text; unknown names are ignored (later formats may add).
  // Text of another format or whose checksum fails is a kPipelineBadStore error.
  CUxError parse(const std::string& text);

  // Writes the manifest into `runDir` atomically and durably.
  CUxError writeTo(const std::string& runDir) const;
  CUxError readFrom(const std::string& runDir);
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_JOBMANIFEST_H_
