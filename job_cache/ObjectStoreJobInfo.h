// ObjStoreJobInfo: the on-disk record of a running backup job: its directory under the root and
// the "JOB_INFO" file describing the job. Used by one thread at a time.
#ifndef OBJSTORE_JOB_CACHE_OBJECTSTOREJOBINFO_H_
#define OBJSTORE_JOB_CACHE_OBJECTSTOREJOBINFO_H_

#include <string>

#include "JobInfo.h"
#include "ObjStoreExport.h"

namespace ObjectStore {

class OBJSTORE_API ObjStoreJobInfo : public OBJECTOPSAPI::JobInfo {
 public:
  // A copy of `info`; touches no file.
  explicit ObjStoreJobInfo(OBJECTOPSAPI::JobInfo info);
  // Defaults, then loadInfoFromDisk(dir); loadFailed tells whether that failed.
  explicit ObjStoreJobInfo(std::string dir);
  ~ObjStoreJobInfo();

  std::string getBasePath();
  // Creates rootDir/jobId and writes JOB_INFO there. False, with log records, on any failure.
  bool init();
  // Writes basePath/JOB_INFO. False, with log records naming the file, when it cannot be
  // created, written or closed, and when init has not set basePath yet.
  bool saveInfoOnDisk();
  // Reads dir/JOB_INFO as saveInfoOnDisk writes it, line by line and tab by tab, so that empty
  // texts and texts with blanks come back; a file of whitespace-separated fields, each text one
  // token, is read too. False, with a log record, when the file is missing, is not a regular
  // file (a link, a FIFO, a device: never opened for reading, never waited on), holds more
  // than 64 KiB or cannot be read. A short or malformed file still loads: the fields from the
  // first unreadable one keep their values. The job id and the first text are never taken from
  // the file (0 and empty).
  bool loadInfoFromDisk(std::string dir);
  // The same; `problem` is empty after a clean load, and otherwise says what was wrong (also
  // for a malformed file that still loaded).
  bool loadInfoFromDisk(std::string dir, std::string* problem);

  std::string basePath;
  bool loadFailed;
};

}  // namespace ObjectStore

#endif  // OBJSTORE_JOB_CACHE_OBJECTSTOREJOBINFO_H_
