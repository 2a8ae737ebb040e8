// The parts of the example server that its phases share: the jobs it runs, the names of their
// objects, where everything lives, the commit record and the steps of a backup job.
#ifndef OBJSTORE_EXAMPLE_SERVER_SERVER_H_
#define OBJSTORE_EXAMPLE_SERVER_SERVER_H_

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "DirectoryDiskCache.h"
#include "ObjStoreBackupInterface.h"

namespace server {

constexpr int32_t kAppA = 1;
constexpr int32_t kAppB = 2;
constexpr uint32_t kStreams = 4;
constexpr int kSendThreads = 4;  // about as many as streams

struct JobPlan {
  int32_t appId;
  int64_t jobId;
  int objects;
};
// Normal running: three jobs of A in a row while B runs one. Then A's job that is killed, and
// A's next job, which the restart after the kill runs.
const JobPlan kJobsOfA[] = {{kAppA, 101, 120}, {kAppA, 102, 120}, {kAppA, 103, 120}};
const JobPlan kJobOfB = {kAppB, 201, 150};
const JobPlan kKilledJob = {kAppA, 104, 240};
const JobPlan kNextJobOfA = {kAppA, 105, 60};
std::vector<JobPlan> AllJobs();

// The object's GUID: GUID-shaped, derived from its job and number, so that the driver can
// name every object the phases made without being told.
std::string ObjectGuid(const JobPlan& job, int index);
// Writes the job's objects into the disk cache, one segment each; returns their GUIDs.
std::vector<std::string> WriteObjects(const JobPlan& job, ObjectStore::DirectoryDiskCache& cache,
                                      std::string* error);

struct WorkDirs {
  explicit WorkDirs(const std::filesystem::path& work);
  std::filesystem::path base, root, store, record, log;
  std::filesystem::path cache(int32_t appId) const;
};

// The host's own record of what was committed: one line per committed GUID in a file that
// outlives the process, and the same names in memory.
class CommitRecord {
 public:
  explicit CommitRecord(const std::filesystem::path& file);
  ~CommitRecord();
  // The commit callback, with the record as its context.
  static void OnCommit(uint32_t aFileId, std::list<std::string> items, void* context);
  bool has(const std::string& guid) const;
  bool writeFailed() const { return writeFailed_; }
  // The whole lines of a record file, counted per GUID.
  static std::map<std::string, int> Read(const std::filesystem::path& file);

 private:
  int fd_;
  std::atomic<bool> writeFailed_{false};
  mutable std::mutex mutex_;
  std::set<std::string> names_;
};

// What a job's sends did.
struct SendTally {
  int sent = 0;
  int resent = 0;  // sent again after a failed list or an error gave them back
  std::vector<int> perStream = std::vector<int>(kStreams, 0);
};

// Every process of the server starts so: its log, the pipeline's store and fault plan, the root.
bool SetUpServer(const WorkDirs& dirs, const char* process, const std::string& faults,
                 uint64_t commitItems);

// The steps of a backup job. Each returns an empty text on success, else what went wrong.
std::string StartJob(const JobPlan& job, bool isRestartThread, CommitRecord& record,
                     ObjectStore::BackupInterfacePtr* controller);
std::string SendWithResends(ObjectStore::BackupInterface& controller,
                            const std::vector<std::string>& names, ObjectStore::DiskCache& cache,
                            const CommitRecord& record, SendTally* tally);
std::string EndJob(ObjectStore::BackupInterface& controller, const std::vector<std::string>& names,
                   ObjectStore::DirectoryDiskCache& cache, const CommitRecord& record);
// All of them for one job whose objects arrive in `cache` now.
std::string RunJob(const JobPlan& job, ObjectStore::DirectoryDiskCache& cache, CommitRecord& record,
                   SendTally* tally);

// The phases, each run in a process of its own; they return the exit status.
int RunNormalPhase(const WorkDirs& dirs);
int RunKilledPhase(const WorkDirs& dirs);
int RunRestartPhase(const WorkDirs& dirs);

}  // namespace server

#endif  // OBJSTORE_EXAMPLE_SERVER_SERVER_H_
