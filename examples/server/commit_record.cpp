// The host's commit record. The commit callback appends each committed GUID as one line with
// one write() to a file opened with O_APPEND, before it returns.
//
// Why in the callback, and why so: the library forgets an item once it has reported it, so
// the record is the only place that says it is committed. A write() that has returned is in the
// kernel, and a kill -9 of this process keeps it; a queue handed to a writer thread of ours would
// lose what it held at the kill. The write goes to the page cache without waiting for the disk
// (no fsync), so the callback stays short. A name that missed the record is merely sent again by
// the restart, and counted once: the record never holds a GUID twice.
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "server.h"

namespace server {

namespace {

// Cuts a last line that lacks its newline: a fatal signal can stop a write() short (Linux checks
// for one between pages), and such a line is no record of anything.
void CutTornTail(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.empty() || text.back() == '\n') return;
  const size_t keep = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
  std::filesystem::resize_file(file, keep);
}

}  // namespace

CommitRecord::CommitRecord(const std::filesystem::path& file) {
  if (std::filesystem::exists(file)) CutTornTail(file);
  for (const auto& entry : Read(file)) names_.insert(entry.first);
  fd_ = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) writeFailed_ = true;
}

CommitRecord::~CommitRecord() {
  if (fd_ >= 0) close(fd_);
}

// Runs on a pipeline thread (or inside a sendItem) while the library holds its stream lock:
// one write() per name and a set insertion, no call into the library, no exception.
void CommitRecord::OnCommit(uint32_t /*aFileId*/, std::list<std::string> items, void* context) {
  CommitRecord* record = static_cast<CommitRecord*>(context);
  for (const std::string& guid : items) {
    const std::string line = guid + "\n";
    if (write(record->fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      record->writeFailed_ = true;  // checked by the phase when its jobs are done
    }
    std::lock_guard<std::mutex> lock(record->mutex_);
    record->names_.insert(guid);
  }
}

bool CommitRecord::has(const std::string& guid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return names_.count(guid) != 0;
}

std::map<std::string, int> CommitRecord::Read(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::map<std::string, int> counts;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    ++counts[text.substr(at, end - at)];
  }
  return counts;
}

}  // namespace server
