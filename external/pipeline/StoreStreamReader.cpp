#include "StoreStreamReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "Crc32c.h"
#include "MakeCXFileHeader.h"
#include "PipelineErrors.h"
#include "StoreIo.h"

namespace OBJECTOPSAPI {

namespace {

constexpr size_t kReadBufferBytes = 1 << 20;

// The first identifier of a stream header's h_filename, its padding removed.
std::string ItemName(const std::string& header) {
  if (header.size() <= kCXFileHeaderFilenameOffset) return std::string();
  const char* text = header.data() + kCXFileHeaderFilenameOffset;
  const size_t room = std::min(header.size() - kCXFileHeaderFilenameOffset, kCXFileHeaderIdChars);
  std::string name(text, strnlen(text, room));
  name.erase(std::min(name.find(','), name.size()));
  name.erase(name.find_last_not_of('-') + 1);
  return name;
}

CUxError ReadError(const std::string& path) {
  return UX_ERROR(kPipelineIoError, "read of [%s] failed: %s", path.c_str(), std::strerror(errno));
}

bool KnownRecordType(uint32_t type) {
  return type >= kStoreRecordHeader && type <= kStoreRecordCommit;
}

uint64_t CommitCount(const std::string& payload) {
  uint64_t count = 0;
  for (size_t i = 0; i < payload.size() && i < kStoreCommitPayloadBytes; ++i) {
    count |= static_cast<uint64_t>(static_cast<unsigned char>(payload[i])) << (8 * i);
  }
  return count;
}

bool IsSectionType(uint32_t type) {
  return type == kStoreRecordHeader || type == kStoreRecordMetaData || type == kStoreRecordData;
}

const char* RecordName(uint32_t type) {
  switch (type) {
    case kStoreRecordHeader:
      return "header";
    case kStoreRecordMetaData:
      return "metadata";
    case kStoreRecordData:
      return "data";
    case kStoreRecordEof:
      return "end-of-file";
    case kStoreRecordAbandon:
      return "abandon";
    case kStoreRecordCommit:
      return "commit";
  }
  return "unknown";
}

std::string Number(uint64_t value) {
  return std::to_string(value);
}

// Whether the 24 bytes at `bytes`, `at` bytes into a file of `fileSize`, are an intact record
// header whose record fits in the file. The cheap tests come first: most offsets fail the type.
bool IntactHeaderAt(const char* bytes, uint64_t at, uint64_t fileSize) {
  StoreRecordHeader header;
  std::memcpy(&header, bytes, sizeof(header));
  return KnownRecordType(header.type) && header.length <= StoreRecordMaxBytes(header.type) &&
         header.length <= fileSize - at - sizeof(header) && StoreRecordHeaderIntact(header);
}

// The first offset from `from` on that holds an intact record header; `fileSize` when none
// does. Holes of a sparse file are skipped unread, so a damaged file costs the time of the
// bytes it really holds.
bool FindNextRecord(int fd, uint64_t from, uint64_t fileSize, uint64_t* found) {
  constexpr size_t kChunk = 1 << 20;
  constexpr size_t kHeader = sizeof(StoreRecordHeader);
  std::vector<char> buffer(kChunk + kHeader);
  *found = fileSize;
  uint64_t at = from;
  while (at + kHeader <= fileSize) {
    const off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
    if (data < 0 && errno == ENXIO) return true;  // only a hole is left
    if (data > static_cast<off_t>(at)) at = static_cast<uint64_t>(data);
    if (at + kHeader > fileSize) return true;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk + kHeader, fileSize - at));
    const ssize_t got = ::pread(fd, buffer.data(), want, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < static_cast<ssize_t>(kHeader)) return got >= 0;
    const size_t last = static_cast<size_t>(got) - kHeader;
    for (size_t i = 0; i <= last; ++i) {
      if (IntactHeaderAt(buffer.data() + i, at + i, fileSize)) {
        *found = at + i;
        return true;
      }
    }
    at += last + 1;
  }
  return true;
}

}  // namespace

StoreStreamReader::~StoreStreamReader() {
  close();
}

CUxError StoreStreamReader::open(const StoreStreamInfo& stream) {
  close();
  stream_ = stream;
  offset_ = 0;
  itemsRead_ = 0;
  lastCommit_ = previousCommit_ = 0;
  incompleteTail_ = finished_ = false;
  problems_.clear();
  int fd = -1;
  CUxError opened = StoreIo::OpenRegularFile(stream.dataPath, &fd, &fileSize_);
  if (opened.IsError()) return opened;
  file_ = ::fdopen(fd, "rb");
  if (file_ == nullptr) {
    CUxError error = UX_ERROR(kPipelineIoError, "open of [%s] failed: %s", stream.dataPath.c_str(),
                              std::strerror(errno));
    ::close(fd);
    return error;
  }
  std::setvbuf(file_, nullptr, _IOFBF, kReadBufferBytes);

  // A file cut inside its header (its process died at once) holds no items.
  StoreFileHeader header;
  if (fileSize_ < sizeof(header)) {
    incompleteTail_ = fileSize_ != 0;
    offset_ = fileSize_;
    return CUxError();
  }
  if (std::fread(&header, sizeof(header), 1, file_) != 1) return ReadError(stream.dataPath);
  offset_ = sizeof(header);
  const char* path = stream.dataPath.c_str();
  if (std::memcmp(header.magic, kStoreFileMagic, sizeof(header.magic)) != 0) {
    return UX_ERROR(kPipelineBadStore, "[%s] is not a backup-store data file", path);
  }
  if (header.version == 1) {
    return UX_ERROR(kPipelineBadStore,
                    "[%s] is in store format 1, whose records carry no checksums; this reader "
                    "reads format %u only",
                    path, kStoreFormatVersion);
  }
  if (header.version != kStoreFormatVersion) {
    return UX_ERROR(kPipelineBadStore,
                    "[%s] is in store format %u, which this reader does not know", path,
                    header.version);
  }
  if (header.aFileId != stream.aFileId) {
    return UX_ERROR(kPipelineBadStore, "[%s] holds stream [%u], not [%u]", path, header.aFileId,
                    stream.aFileId);
  }
  return CUxError();
}

CUxError StoreStreamReader::next(StoreItem* item, bool* more, bool readData) {
  *more = false;
  if (file_ == nullptr) return UX_ERROR(kPipelineInvalidArgument, "stream reader not open");
  StoreItem building;
  building.offset = offset_;
  while (!finished_) {
    const uint64_t at = offset_;
    StoreRecordHeader header;
    std::string payload;
    RecordStatus status = kRecordNone;
    CUxError error = readRecord(&header, &payload, readData, &status);
    if (error.IsError()) return error;
    if (status == kRecordNone) {
      if (!building.damage.empty()) return emit(&building, item, more);
      if (!building.sections.empty()) incompleteTail_ = true;
      break;
    }
    if (status == kRecordBadHeader) {
      error = skipDamagedRecord(at, &building);
      if (error.IsError()) return error;
      continue;
    }
    if (afterLoss_ && !building.sections.empty() && endsLostItem(header, payload)) {
      // The lost record ended the item being read: end it there, and read this record again as
      // the first of the next item (or the commit after it).
      afterLoss_ = false;
      error = seekTo(at);
      if (error.IsError()) return error;
      return emit(&building, item, more);
    }
    if (header.type != kStoreRecordCommit) {
      if (afterLoss_ && header.type != kStoreRecordHeader) markLoss(&building);
      afterLoss_ = false;
    }
    const bool intact = payload.size() != header.length || header.length == 0 ||
                        Crc32c(payload.data(), payload.size()) == header.payloadCrc;
    if (header.type == kStoreRecordCommit) {
      if (!intact) addProblem("the commit record at offset " + Number(at) + " fails its checksum");
      if (intact) noteCommitRecord(header, payload);
      continue;
    }
    if (!intact && building.damage.empty()) {
      building.damage = std::string("its ") + RecordName(header.type) + " record at offset " +
                        Number(at) + " fails its checksum";
    }
    if (IsSectionType(header.type)) {
      if (header.type == kStoreRecordHeader && building.name.empty())
        building.name = ItemName(payload);
      StoreSection section;
      section.type = static_cast<StoreRecordType>(header.type);
      section.kind = header.kind;
      section.length = header.length;
      section.bytes.swap(payload);
      building.sections.push_back(std::move(section));
      continue;
    }
    building.success = header.type == kStoreRecordEof && header.kind != 0;
    if (header.type == kStoreRecordAbandon) payload = "abandoned: its end-of-file record failed";
    building.reason.swap(payload);
    return emit(&building, item, more);
  }
  if (!finished_) checkCounts();
  finished_ = true;
  return CUxError();
}

bool StoreStreamReader::endsLostItem(const StoreRecordHeader& header,
                                     const std::string& payload) const {
  if (header.type == kStoreRecordHeader) return true;
  return header.type == kStoreRecordCommit && payload.size() == kStoreCommitPayloadBytes &&
         CommitCount(payload) == itemsRead_ + 1;
}

CUxError StoreStreamReader::emit(StoreItem* building, StoreItem* item, bool* more) {
  building->index = itemsRead_++;
  building->committed = building->index < stream_.committedCount;
  *item = std::move(*building);
  *more = true;
  return CUxError();
}

// One damaged record costs one record: the walk goes on at the next offset that holds an intact
// record header. A header proves 20 bytes with a CRC-32C, names a known type and a length that
// fits both its kind's bound and the file, so a chance match in damaged bytes is unlikely
// enough to need no marker in the format.
CUxError StoreStreamReader::skipDamagedRecord(uint64_t at, StoreItem* building) {
  uint64_t resume = fileSize_;
  if (!FindNextRecord(::fileno(file_), at + 1, fileSize_, &resume)) {
    return ReadError(stream_.dataPath);
  }
  const std::string span = "the record at offset " + Number(at) +
                           " is damaged (its header fails its checksum or names no record): ";
  if (resume < fileSize_) {
    addProblem(span + Number(resume - at) + " bytes skipped, up to the next intact record at " +
               Number(resume));
  } else {
    addProblem(span + "the " + Number(fileSize_ - at) + " bytes to the end hold no intact record");
  }
  lossOffset_ = at;
  afterLoss_ = true;
  if (!building->sections.empty()) markLoss(building);
  return seekTo(resume);
}

void StoreStreamReader::markLoss(StoreItem* building) const {
  if (!building->damage.empty()) return;
  building->damage = "a record of it at offset " + Number(lossOffset_) + " is damaged";
}

CUxError StoreStreamReader::seekTo(uint64_t offset) {
  if (::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
    return ReadError(stream_.dataPath);
  }
  offset_ = offset;
  return CUxError();
}

CUxError StoreStreamReader::ReadAll(const StoreStreamInfo& stream, std::vector<StoreItem>* items) {
  items->clear();
  StoreStreamReader reader;
  CUxError error = reader.open(stream);
  for (bool more = true; !error.IsError() && more;) {
    StoreItem item;
    error = reader.next(&item, &more);
    if (more) items->push_back(std::move(item));
  }
  if (!error.IsError() && !reader.problems().empty()) {
    return UX_ERROR(kPipelineBadStore, "%s", reader.problems().front().c_str());
  }
  return error;
}

CUxError StoreStreamReader::readRecord(StoreRecordHeader* header, std::string* payload,
                                       bool readData, RecordStatus* status) {
  *status = kRecordNone;
  uint64_t left = fileSize_ - offset_;
  if (left == 0) return CUxError();
  if (left < sizeof(*header)) {
    incompleteTail_ = true;
    offset_ = fileSize_;
    return CUxError();
  }
  if (std::fread(header, sizeof(*header), 1, file_) != 1) return ReadError(stream_.dataPath);
  if (!StoreRecordHeaderIntact(*header) || !KnownRecordType(header->type) ||
      header->length > StoreRecordMaxBytes(header->type)) {
    *status = kRecordBadHeader;
    return CUxError();
  }
  left -= sizeof(*header);
  if (header->length > left) {
    incompleteTail_ = true;
    offset_ = fileSize_;
    return CUxError();
  }
  if (readData || header->type != kStoreRecordData) {
    payload->resize(header->length);
    if (header->length != 0 && std::fread(&(*payload)[0], header->length, 1, file_) != 1) {
      return ReadError(stream_.dataPath);
    }
  } else if (::fseeko(file_, static_cast<off_t>(header->length), SEEK_CUR) != 0) {
    return ReadError(stream_.dataPath);
  }
  offset_ += sizeof(*header) + header->length;
  *status = kRecordRead;
  return CUxError();
}

void StoreStreamReader::noteCommitRecord(const StoreRecordHeader& header,
                                         const std::string& payload) {
  const uint64_t at = offset_ - sizeof(header) - header.length;
  if (payload.size() != kStoreCommitPayloadBytes) {
    addProblem("the commit record at offset " + Number(at) + " has " + Number(payload.size()) +
               " bytes instead of " + Number(kStoreCommitPayloadBytes));
    return;
  }
  const uint64_t count = CommitCount(payload);
  if (count != itemsRead_) {
    addProblem("the commit record at offset " + Number(at) + " counts " + Number(count) +
               " items, but " + Number(itemsRead_) + " precede it");
    return;
  }
  previousCommit_ = lastCommit_;
  lastCommit_ = count;
}

// Runs once the whole file has been read.
void StoreStreamReader::checkCounts() {
  const StoreStreamInfo& s = stream_;
  const std::string committed = "[" + s.committedPath + "]";
  const std::string says = s.hasCommittedFile
                               ? committed + " says " + Number(s.committedFileCount) + " items"
                               : committed + " is missing";
  if (s.runEnded && !s.endRecorded) {
    addProblem("the stream is not listed in the manifest of its run, which ended");
  } else if (s.endRecorded) {
    if (s.committedFileCount != s.end.committed || (!s.hasCommittedFile && s.end.committed != 0)) {
      addProblem(says + ", but its run ended with " + Number(s.end.committed) + " committed");
    }
    if (!s.end.broken && itemsRead_ > s.end.committed) {
      addProblem("holds " + Number(itemsRead_ - s.end.committed) + " items beyond the " +
                 Number(s.end.committed) + " committed, although its run ended");
    }
  } else if (s.committedFileCount < previousCommit_) {
    addProblem(says + ", but the stream's commit records prove " + Number(previousCommit_) +
               " committed");
  } else if (s.committedFileCount > lastCommit_ && problems_.empty()) {
    addProblem(says + ", more than the " + Number(lastCommit_) +
               " its commit records prove committed");
  }
  if (s.committedCount > itemsRead_) {
    addProblem("holds only " + Number(itemsRead_) + " readable whole items of the " +
               Number(s.committedCount) + " committed");
  }
}

void StoreStreamReader::addProblem(const std::string& text) {
  problems_.push_back("[" + stream_.dataPath + "]: " + text);
}

void StoreStreamReader::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace OBJECTOPSAPI
