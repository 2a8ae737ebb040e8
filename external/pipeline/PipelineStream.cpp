#include "PipelineStream.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "LogWriter.h"
#include "PipelineErrors.h"
#include "PipelineFaults.h"
#include "StoreFormat.h"
#include "StoreIo.h"

namespace OBJECTOPSAPI {

namespace {

// Small sections gather in the buffer; large ones go straight to the file, which saves a copy
// and costs one system call either way.
constexpr size_t kBufferBytes = 1 << 20;
constexpr uint64_t kDirectWriteBytes = 256 << 10;

}  // namespace

PipelineStream::PipelineStream(uint32_t aFileId, const std::string& runDir,
                               const PipelineOptions& options,
                               boost::shared_ptr<CommitSignal> signal)
    : aFileId_(aFileId),
      path_(runDir + "/" + StoreDataFileName(aFileId)),
      committedPath_(runDir + "/" + StoreCommittedFileName(aFileId)),
      options_(options),
      signal_(signal),
      buffer_(new char[kBufferBytes]),
      lastCommit_(Clock::now()) {}

PipelineStream::~PipelineStream() {
  close();
}

CUxError PipelineStream::open() {
  std::lock_guard<std::mutex> lock(mutex_);
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    return UX_ERROR(kPipelineIoError, "create of stream file [%s] failed: %s", path_.c_str(),
                    std::strerror(errno));
  }
  StoreFileHeader header;
  std::memcpy(header.magic, kStoreFileMagic, sizeof(header.magic));
  header.version = kStoreFormatVersion;
  header.aFileId = aFileId_;
  std::memcpy(buffer_.get(), &header, sizeof(header));
  buffered_ = sizeof(header);
  return flushLocked();
}

CUxError PipelineStream::sendHeader(const CXFileHeader* header) {
  if (header == nullptr) {
    return UX_ERROR(kPipelineInvalidArgument, "sendHeader on stream [%u] without a header",
                    aFileId_);
  }
  return send(PipelineFaults::kSendHeader, kStoreRecordHeader, 0, header, sizeof(*header));
}

CUxError PipelineStream::sendMetaData(uint32_t kind, const void* bytes, uint32_t length) {
  if (bytes == nullptr && length != 0) {
    return UX_ERROR(kPipelineInvalidArgument, "sendMetaData on stream [%u]: %u bytes at null",
                    aFileId_, length);
  }
  return send(PipelineFaults::kSendMetaData, kStoreRecordMetaData, kind, bytes, length);
}

CUxError PipelineStream::sendData(const void* bytes, uint32_t length) {
  if (bytes == nullptr && length != 0) {
    return UX_ERROR(kPipelineInvalidArgument, "sendUserBufData on stream [%u]: %u bytes at null",
                    aFileId_, length);
  }
  return send(PipelineFaults::kSendUserBufData, kStoreRecordData, 0, bytes, length);
}

CUxError PipelineStream::sendEof(bool success, const char* reason, uint32_t reasonLength) {
  if (reason == nullptr) reasonLength = 0;
  CUxError injected;
  try {
    injected = PipelineFaults::Check(PipelineFaults::kSendEof, aFileId_);
  } catch (...) {
    endItem(false, nullptr, 0, true);  // a thrown end-of-file ends its item too
    throw;
  }
  CUxError error = endItem(success, reason, reasonLength, injected.IsError());
  if (injected.IsError()) error = injected;
  CUxError waited = waitForWindow(PipelineFaults::FlowWindow());
  return error.IsError() ? error : waited;
}

CUxError PipelineStream::endItem(bool success, const char* reason, uint32_t reasonLength,
                                 bool abandon) {
  bool wake = false;
  CUxError error;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    error = endItemLocked(success, reason, reasonLength, abandon, &wake);
  }
  if (wake) signal_->wake();
  return error;
}

CUxError PipelineStream::endItemLocked(bool success, const char* reason, uint32_t reasonLength,
                                       bool abandon, bool* wake) {
  // A stream that can no longer commit has nothing to count.
  if (closed_) return UX_ERROR(kPipelineJobEnded, "the job of stream [%u] has ended", aFileId_);
  if (broken_.IsError()) return broken_;
  CUxError refused;
  if (released_) {
    refused = UX_ERROR(kPipelineStreamReleased, "stream [%u] was released", aFileId_);
    abandon = true;
  }
  CUxError error = abandon ? appendLocked(kStoreRecordAbandon, 0, nullptr, 0)
                           : appendLocked(kStoreRecordEof, success ? 1 : 0, reason, reasonLength);
  if (error.IsError()) return error;
  if (!abandon) bytesSinceCommit_ += reasonLength;
  itemOpen_ = false;
  *wake = countItemLocked();
  return refused;
}

CUxError PipelineStream::waitForWindow(uint32_t window) {
  if (window == 0) return CUxError();
  std::unique_lock<std::mutex> lock(mutex_);
  auto hasRoom = [&] { return eofCount_ - reportedCount_ < window; };
  auto canWait = [&] { return !closed_ && !broken_.IsError(); };
  if (!hasRoom() && canWait()) {
    // The request lasts until a commit takes it, and that commit counts this item.
    commitRequested_ = true;
    lock.unlock();
    signal_->wake();
    if (PipelineFaults::ManualCommit() && PipelineFaults::RunHoldHook(aFileId_)) {
      // Nobody else commits: whatever the hook delivered, the stream makes its own room.
      lock.lock();
      const bool stillHeld = !hasRoom() && canWait();
      lock.unlock();
      if (stillHeld) PipelineFaults::CommitAndDeliver(aFileId_);
    }
    lock.lock();
    reported_.wait(lock, [&] { return hasRoom() || !canWait(); });
  }
  if (hasRoom()) return CUxError();
  if (broken_.IsError()) return broken_;
  return UX_ERROR(kPipelineJobEnded, "the job of stream [%u] ended before its commit was reported",
                  aFileId_);
}

void PipelineStream::noteReported(uint64_t count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count > reportedCount_) reportedCount_ = count;
  }
  reported_.notify_all();
}

CUxError PipelineStream::requestCommit() {
  CUxError error = PipelineFaults::Check(PipelineFaults::kCommitData, aFileId_);
  if (error.IsError()) return error;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    error = checkUsableLocked();
    if (error.IsError()) return error;
    commitRequested_ = true;
  }
  signal_->wake();
  return CUxError();
}

bool PipelineStream::release() {
  std::lock_guard<std::mutex> lock(mutex_);
  bool wasReleased = released_;
  released_ = true;
  return !wasReleased;
}

bool PipelineStream::commitDue(Clock::time_point now, Clock::time_point* nextDue) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || broken_.IsError()) return false;
  uint64_t uncommitted = eofCount_ - committedCount_;
  if (commitRequested_) return true;
  if (options_.commitItems != 0 && uncommitted >= options_.commitItems) return true;
  if (bytesDueLocked()) return true;
  if (uncommitted == 0 || options_.commitMs == 0) return false;
  Clock::time_point due = lastCommit_ + std::chrono::milliseconds(options_.commitMs);
  if (now >= due) return true;
  if (due < *nextDue) *nextDue = due;
  return false;
}

CUxError PipelineStream::commit(uint64_t* count, bool* advanced) {
  std::lock_guard<std::mutex> commitLock(commitMutex_);
  uint64_t snapshot = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return UX_ERROR(kPipelineJobEnded, "stream [%u] is closed", aFileId_);
    if (broken_.IsError()) return broken_;
    CUxError error = eofCount_ == committedCount_ ? CUxError() : appendCommitRecordLocked();
    if (!error.IsError()) error = flushLocked();
    if (error.IsError()) return error;
    snapshot = eofCount_;
    committedCount_ = snapshot;
    bytesSinceCommit_ = 0;
    commitRequested_ = false;
    lastCommit_ = Clock::now();
  }
  // The sender may go on appending while the file syncs: what was flushed above is on disk
  // when fdatasync returns, and only that is counted.
  CUxError error;
  if (::fdatasync(fd_) != 0) {
    error = UX_ERROR(kPipelineIoError, "fdatasync of [%s] failed: %s", path_.c_str(),
                     std::strerror(errno));
  } else if (snapshot != durableCount_) {
    error = StoreIo::ReplaceFileDurably(committedPath_, std::to_string(snapshot) + "\n");
  }
  if (error.IsError()) {
    std::lock_guard<std::mutex> lock(mutex_);
    broken_ = error;
    reported_.notify_all();
    OBJSTORE_LOG(-1, "ERROR: stream [%u] cannot commit: %s", aFileId_, error.AsString().c_str());
    return error;
  }
  *advanced = snapshot != durableCount_;
  durableCount_ = snapshot;
  *count = snapshot;
  return CUxError();
}

StoreStreamEnd PipelineStream::endState() {
  std::lock_guard<std::mutex> commitLock(commitMutex_);
  std::lock_guard<std::mutex> lock(mutex_);
  StoreStreamEnd end;
  end.aFileId = aFileId_;
  end.committed = durableCount_;
  end.broken = broken_.IsError();
  return end;
}

void PipelineStream::close() {
  // A commit syncs the file outside mutex_: it must not find the descriptor closed under it.
  std::lock_guard<std::mutex> commitLock(commitMutex_);
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  closed_ = true;
  reported_.notify_all();
  if (fd_ < 0) return;
  if (!broken_.IsError()) flushLocked();
  ::close(fd_);
  fd_ = -1;
}

CUxError PipelineStream::checkUsableLocked() const {
  if (closed_) return UX_ERROR(kPipelineJobEnded, "the job of stream [%u] has ended", aFileId_);
  if (released_) return UX_ERROR(kPipelineStreamReleased, "stream [%u] was released", aFileId_);
  if (broken_.IsError()) return broken_;
  return CUxError();
}

CUxError PipelineStream::send(PipelineFaults::Op op, uint32_t type, uint32_t kind,
                              const void* bytes, uint64_t length) {
  const CUxError injected = PipelineFaults::Check(op, aFileId_);
  if (injected.IsError()) return injected;
  // The payload's checksum is made before the lock: the commit thread need not wait for it.
  const StoreRecordHeader header = MakeStoreRecordHeader(type, kind, bytes, length);
  std::lock_guard<std::mutex> lock(mutex_);
  CUxError error = checkUsableLocked();
  if (!error.IsError()) error = appendRecordLocked(header, bytes, length);
  if (error.IsError()) return error;
  bytesSinceCommit_ += length;
  itemOpen_ = true;
  return CUxError();
}

CUxError PipelineStream::appendLocked(uint32_t type, uint32_t kind, const void* payload,
                                      uint64_t length) {
  return appendRecordLocked(MakeStoreRecordHeader(type, kind, payload, length), payload, length);
}

CUxError PipelineStream::appendRecordLocked(const StoreRecordHeader& header, const void* payload,
                                            uint64_t length) {
  if (length >= kDirectWriteBytes) {
    CUxError error = flushLocked();
    if (error.IsError()) return error;
    return writeDirectLocked(&header, payload, length);
  }
  if (buffered_ + sizeof(header) + length > kBufferBytes) {
    CUxError error = flushLocked();
    if (error.IsError()) return error;
  }
  std::memcpy(buffer_.get() + buffered_, &header, sizeof(header));
  buffered_ += sizeof(header);
  if (length != 0) std::memcpy(buffer_.get() + buffered_, payload, length);
  buffered_ += length;
  return CUxError();
}

CUxError PipelineStream::appendCommitRecordLocked() {
  unsigned char count[kStoreCommitPayloadBytes];
  for (size_t i = 0; i < sizeof(count); ++i)
    count[i] = static_cast<unsigned char>(eofCount_ >> (8 * i));
  return appendLocked(kStoreRecordCommit, 0, count, sizeof(count));
}

CUxError PipelineStream::flushLocked() {
  if (buffered_ == 0) return CUxError();
  struct iovec iov = {buffer_.get(), buffered_};
  CUxError error = StoreIo::WriteAll(fd_, &iov, 1, path_);
  if (error.IsError()) return breakLocked(error);
  fileSize_ += buffered_;
  buffered_ = 0;
  return CUxError();
}

CUxError PipelineStream::writeDirectLocked(const void* header, const void* payload,
                                           uint64_t length) {
  struct iovec iov[2] = {{const_cast<void*>(header), sizeof(StoreRecordHeader)},
                         {const_cast<void*>(payload), length}};
  CUxError error = StoreIo::WriteAll(fd_, iov, 2, path_);
  if (error.IsError()) return breakLocked(error);
  fileSize_ += sizeof(StoreRecordHeader) + length;
  return CUxError();
}

CUxError PipelineStream::breakLocked(const CUxError& error) {
  // Whole writes only: a reader then never meets half a record in front of later data.
  if (::ftruncate(fd_, static_cast<off_t>(fileSize_)) != 0) {
    OBJSTORE_LOG(-1, "ERROR: cannot cut [%s] back to %llu bytes: %s", path_.c_str(),
                 static_cast<unsigned long long>(fileSize_), std::strerror(errno));
  }
  buffered_ = 0;
  broken_ = UX_ERROR(kPipelineIoError, "stream [%u] is unusable after a write error: %s", aFileId_,
                     error.GetMessage().c_str());
  reported_.notify_all();
  OBJSTORE_LOG(-1, "ERROR: %s", broken_.GetMessage().c_str());
  return broken_;
}

bool PipelineStream::countItemLocked() {
  ++eofCount_;
  uint64_t uncommitted = eofCount_ - committedCount_;
  // The first uncommitted item starts the clock of the timed commit; the commit thread has to
  // learn of it to sleep until then.
  return (uncommitted == 1 && options_.commitMs != 0) ||
         (options_.commitItems != 0 && uncommitted == options_.commitItems) || bytesDueLocked();
}

bool PipelineStream::bytesDueLocked() const {
  return options_.commitBytes != 0 && bytesSinceCommit_ >= options_.commitBytes &&
         eofCount_ != committedCount_;
}

}  // namespace OBJECTOPSAPI
