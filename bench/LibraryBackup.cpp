#include "LibraryBackup.h"

#include <atomic>
#include <chrono>
#include <list>
#include <string>

#include "ErrorText.h"
#include "ObjStoreBackupInterface.h"
#include "ThreadGroup.h"

namespace objstore_bench {

namespace {

typedef std::chrono::steady_clock Clock;

// What the commit callback saw: kept short, as the callback runs under the stream registry lock.
struct CommitTally {
  std::atomic<uint64_t> items{0};
  std::atomic<int64_t> lastNanos{0};
};

int64_t NanosOf(Clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

void OnCommit(uint32_t /*aFileId*/, std::list<std::string> committedItems, void* context) {
  CommitTally* tally = static_cast<CommitTally*>(context);
  tally->items += committedItems.size();
  tally->lastNanos = NanosOf(Clock::now());
}

}  // namespace

BenchRun RunThroughLibrary(const BenchWorkload& workload, ObjectStore::DiskCache& cache,
                           const BenchRunOptions& options) {
  BenchRun run;
  OBJECTOPSAPI::JobInfoPtr job = StartBenchJobDescription(options);
  ObjectStore::BackupInterfacePtr controller;
  CUxError error = ObjectStore::BackupInterface::getController(job, controller, false);
  if (error.IsError()) {
    run.error = "getController: " + objstore_host::ErrorText(error);
    return run;
  }
  CommitTally tally;
  controller->setCallBack(&OnCommit, &tally);

  std::atomic<size_t> next(0);
  std::atomic<uint64_t> failures(0);
  const Clock::time_point start = Clock::now();
  objstore_host::RunOnThreads(options.threads, [&] {
    std::list<std::string> failedList;
    ObjectStore::DiskCacheContext context;
    for (size_t i = next++; i < workload.items.size(); i = next++) {
      if (controller
              ->sendItem(workload.items[i].c_str(), failedList, nullptr, nullptr, cache, context)
              .IsError()) {
        ++failures;
      }
    }
  });
  std::list<std::string> failedList;
  error = controller->endBackup(failedList, true);
  const Clock::time_point end = Clock::now();

  run.seconds = std::chrono::duration<double>(end - start).count();
  run.items = workload.items.size();
  run.bytes = workload.bytes;
  run.committed = tally.items;
  if (tally.lastNanos != 0) run.lastCommitToEndMs = (NanosOf(end) - tally.lastNanos) / 1e6;
  if (error.IsError()) run.error = "endBackup: " + objstore_host::ErrorText(error);
  if (failures != 0) run.error = std::to_string(failures.load()) + " sends failed";
  return run;
}

}  // namespace objstore_bench
