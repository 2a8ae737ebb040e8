#include "StoreStreamReader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "PipelineErrors.h"

namespace OBJECTOPSAPI {

namespace {

constexpr size_t kReadBufferBytes = 1 << 20;

CUxError ReadError(const std::string& path) {
  return UX_ERROR(kPipelineIoError, "read of [%s] failed: %s", path.c_str(), std::strerror(errno));
}

bool IsSectionType(uint32_t type) {
  return type == kStoreRecordHeader || type == kStoreRecordMetaData || type == kStoreRecordData;
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
  incompleteTail_ = false;
  file_ = std::fopen(stream.dataPath.c_str(), "rb");
  struct stat info;
  if (file_ == nullptr || ::fstat(::fileno(file_), &info) != 0) {
    CUxError error = UX_ERROR(kPipelineIoError, "open of [%s] failed: %s", stream.dataPath.c_str(),
                              std::strerror(errno));
    close();
    return error;
  }
  std::setvbuf(file_, nullptr, _IOFBF, kReadBufferBytes);
  fileSize_ = static_cast<uint64_t>(info.st_size);

  // A file cut inside its header (its process died at once) holds no items.
  StoreFileHeader header;
  if (fileSize_ < sizeof(header)) {
    incompleteTail_ = fileSize_ != 0;
    offset_ = fileSize_;
    return CUxError();
  }
  if (std::fread(&header, sizeof(header), 1, file_) != 1) return ReadError(stream.dataPath);
  offset_ = sizeof(header);
  if (std::memcmp(header.magic, kStoreFileMagic, sizeof(header.magic)) != 0 ||
      header.version != kStoreFormatVersion || header.aFileId != stream.aFileId) {
    return UX_ERROR(kPipelineBadStore, "[%s] is not version %u data of stream [%u]",
                    stream.dataPath.c_str(), kStoreFormatVersion, stream.aFileId);
  }
  return CUxError();
}

CUxError StoreStreamReader::next(StoreItem* item, bool* more, bool readPayloads) {
  *more = false;
  if (file_ == nullptr) return UX_ERROR(kPipelineInvalidArgument, "stream reader not open");
  StoreItem building;
  for (;;) {
    StoreRecordHeader header;
    std::string payload;
    bool got = false;
    CUxError error = readRecord(&header, &payload, readPayloads, &got);
    if (error.IsError()) return error;
    if (!got) {
      if (!building.sections.empty()) incompleteTail_ = true;
      return finish(more);
    }
    if (IsSectionType(header.type)) {
      StoreSection section;
      section.type = static_cast<StoreRecordType>(header.type);
      section.kind = header.kind;
      section.length = header.length;
      section.bytes.swap(payload);
      building.sections.push_back(std::move(section));
      continue;
    }
    if (header.type != kStoreRecordEof && header.type != kStoreRecordAbandon) {
      return UX_ERROR(kPipelineBadStore, "[%s]: unknown record type %u at offset %llu",
                      stream_.dataPath.c_str(), header.type,
                      static_cast<unsigned long long>(offset_ - sizeof(header) - header.length));
    }
    building.success = header.type == kStoreRecordEof && header.kind != 0;
    if (header.type == kStoreRecordAbandon) payload = "abandoned: its end-of-file record failed";
    building.reason.swap(payload);
    building.index = itemsRead_++;
    building.committed = building.index < stream_.committedCount;
    *item = std::move(building);
    *more = true;
    return CUxError();
  }
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
  return error;
}

CUxError StoreStreamReader::readRecord(StoreRecordHeader* header, std::string* payload,
                                       bool readPayload, bool* got) {
  *got = false;
  uint64_t left = fileSize_ - offset_;
  if (left == 0) return CUxError();
  if (left < sizeof(*header)) {
    incompleteTail_ = true;
    return CUxError();
  }
  if (std::fread(header, sizeof(*header), 1, file_) != 1) return ReadError(stream_.dataPath);
  left -= sizeof(*header);
  if (header->length > left) {
    incompleteTail_ = true;
    offset_ = fileSize_;
    return CUxError();
  }
  // The end-of-file record's payload is its reason text, always wanted.
  if (readPayload || header->type == kStoreRecordEof) {
    payload->resize(header->length);
    if (header->length != 0 && std::fread(&(*payload)[0], header->length, 1, file_) != 1) {
      return ReadError(stream_.dataPath);
    }
  } else if (::fseeko(file_, static_cast<off_t>(header->length), SEEK_CUR) != 0) {
    return ReadError(stream_.dataPath);
  }
  offset_ += sizeof(*header) + header->length;
  *got = true;
  return CUxError();
}

CUxError StoreStreamReader::finish(bool* more) {
  *more = false;
  if (itemsRead_ < stream_.committedCount) {
    return UX_ERROR(
        kPipelineBadStore, "[%s] says %llu items are committed but holds only %llu whole items",
        stream_.dataPath.c_str(), static_cast<unsigned long long>(stream_.committedCount),
        static_cast<unsigned long long>(itemsRead_));
  }
  return CUxError();
}

void StoreStreamReader::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace OBJECTOPSAPI
