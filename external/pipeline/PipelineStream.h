// PipelineStream: the pipeline's state of one stream of a job: its data file in the backup
// store, the buffer in front of it, and what the stream has and has not committed.
//
// Senders (one at a time per stream) and the job's commit thread share a stream; each public
// operation takes the stream's mutex for a moment. No operation calls out of the pipeline, and
// only sendEof under flow control waits for the commit thread (see PipelineFaults.h). Senders
// append records to an in-memory buffer that reaches the file when it is full, when a large section
// is written directly, or when the commit thread commits; the file is synced only by commits.
//
// A failed write (disk full, I/O error) cuts the file back to its last whole write and leaves
// the stream unusable: every later send and commit returns that error, and the stream's
// committed count stays where it was, so items sent since are never reported committed.
#ifndef OBJSTORE_PIPELINE_PIPELINESTREAM_H_
#define OBJSTORE_PIPELINE_PIPELINESTREAM_H_

#include <boost/shared_ptr.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "CUxError.h"
#include "CXFileHeader.h"
#include "CommitSignal.h"
#include "JobManifest.h"
#include "PipelineFaults.h"
#include "PipelineOptions.h"
#include "StoreFormat.h"

namespace OBJECTOPSAPI {

class PipelineStream {
 public:
  typedef CommitSignal::Clock Clock;

  PipelineStream(uint32_t aFileId, const std::string& runDir, const PipelineOptions& options,
                 boost::shared_ptr<CommitSignal> signal);
  ~PipelineStream();
  PipelineStream(const PipelineStream&) = delete;
  PipelineStream& operator=(const PipelineStream&) = delete;

  // Creates the stream's data file (it must not exist yet) and writes its file header.
  CUxError open();

  uint32_t aFileId() const { return aFileId_; }

  // The sends of CStreamHandler. Each checks the fault plan first; a failure writes nothing.
  CUxError sendHeader(const CXFileHeader* header);
  CUxError sendMetaData(uint32_t kind, const void* bytes, uint32_t length);
  CUxError sendData(const void* bytes, uint32_t length);
  // Ends the current item, counted whatever the outcome (CStreamHandler.h); under flow control
  // returns once the window has room.
  CUxError sendEof(bool success, const char* reason, uint32_t reasonLength);
  // Marks the stream for a commit by the commit thread and wakes it.
  CUxError requestCommit();

  // Later sends fail; buffered data stays and is still committed when the job ends.
  // Returns false when the stream was released before.
  bool release();

  // --- Used by the job's commit thread, and in manual commit mode by whoever commits. ---

  // True when a commit is due at `now`; otherwise lowers `nextDue` to when the stream's timed
  // commit falls due, if it holds uncommitted items.
  bool commitDue(Clock::time_point now, Clock::time_point* nextDue);
  // Writes the buffer out, syncs the file and then durably records the stream's committed
  // count. `count` receives it; `advanced` says whether it grew.
  CUxError commit(uint64_t* count, bool* advanced);
  // Records that the commit of the stream's first `count` items has been reported (or that
  // there was nobody to report it to); wakes a sendEof waiting for room in the flow window.
  void noteReported(uint64_t count);

  // Writes out the buffer (without syncing) and closes the file; later calls fail with
  // kPipelineJobEnded. For the end of the job, once the commit thread has stopped.
  void close();
  // The stream's committed count and whether a write failed, for the job's manifest. Call it
  // once the commit thread has stopped.
  StoreStreamEnd endState();

 private:
  CUxError checkUsableLocked() const;
  // Appends a small record (end of item, commit count), its header made under the lock.
  CUxError appendLocked(uint32_t type, uint32_t kind, const void* payload, uint64_t length);
  CUxError appendRecordLocked(const StoreRecordHeader& header, const void* payload,
                              uint64_t length);
  // The record that proves the count the commit under way is about to record.
  CUxError appendCommitRecordLocked();
  CUxError flushLocked();
  CUxError writeDirectLocked(const void* header, const void* payload, uint64_t length);
  // Cuts the file back to its last whole write and makes the stream unusable.
  CUxError breakLocked(const CUxError& error);
  // Counts an ended item and says whether the commit thread must look at the stream now.
  bool countItemLocked();
  // Appends the item's end-of-file record, or an abandon record when `abandon` (its end-of-file
  // send failed) or when the stream was released; counts the item either way. `wake` says
  // whether the commit thread must look at the stream.
  CUxError endItemLocked(bool success, const char* reason, uint32_t reasonLength, bool abandon,
                         bool* wake);
  CUxError endItem(bool success, const char* reason, uint32_t reasonLength, bool abandon);
  // Under flow control, waits until fewer than `window` ended items wait for their commit.
  CUxError waitForWindow(uint32_t window);
  // Commits by size wait for the end of an item, so that every commit advances the count.
  bool bytesDueLocked() const;
  CUxError send(PipelineFaults::Op op, uint32_t type, uint32_t kind, const void* bytes,
                uint64_t length);

  const uint32_t aFileId_;
  const std::string path_;
  const std::string committedPath_;
  const PipelineOptions options_;
  const boost::shared_ptr<CommitSignal> signal_;

  std::mutex commitMutex_;  // one commit at a time; guards durableCount_; taken before mutex_
  std::mutex mutex_;        // guards everything below except durableCount_
  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  size_t buffered_ = 0;
  uint64_t fileSize_ = 0;  // bytes in the file, all from whole writes
  bool released_ = false;
  bool closed_ = false;
  CUxError broken_;              // the write error that made the stream unusable
  uint64_t eofCount_ = 0;        // items ended (end-of-file records appended)
  uint64_t committedCount_ = 0;  // eofCount_ at the last commit
  uint64_t bytesSinceCommit_ = 0;
  bool commitRequested_ = false;
  uint64_t reportedCount_ = 0;  // committed items whose commit has been reported
  bool itemOpen_ = false;       // records appended since the last end-of-file record
  Clock::time_point lastCommit_;
  std::condition_variable reported_;  // reportedCount_ grew, or the stream closed or broke

  uint64_t durableCount_ = 0;  // what the committed file says
};

}  // namespace OBJECTOPSAPI

#endif  // OBJSTORE_PIPELINE_PIPELINESTREAM_H_
