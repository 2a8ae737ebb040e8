#include "FileParser.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "KaCriticalSectionLock.h"
#include "LogWriter.h"

namespace {

const uint32_t kStreamHeaderRecord = 0;
const uint32_t kDataRecord = 1;
const uint32_t kMetaDataRecord = 2;
const uint32_t kFileTypeRecord = 3;
const size_t kRecordHeaderSize = 16;

void PutLittleEndian(uint64_t value, size_t width, unsigned char* out) {
  for (size_t i = 0; i < width; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

FileParser::FileParser(std::string filePath) : filePath(std::move(filePath)), stream(nullptr) {}

FileParser::~FileParser() {
  if (stream != nullptr) fclose(stream);
}

bool FileParser::putCXHeader(const void* buffer, uint64_t length) {
  return putRecord(kStreamHeaderRecord, 0, buffer, length);
}

bool FileParser::putMetaData(const void* buffer, uint64_t length, int32_t kind) {
  return putRecord(kMetaDataRecord, static_cast<uint32_t>(kind), buffer, length);
}

bool FileParser::putData(const void* buffer, uint64_t length, int32_t kind) {
  return putRecord(kDataRecord, static_cast<uint32_t>(kind), buffer, length);
}

bool FileParser::putFileType(FileType type) {
  return putRecord(kFileTypeRecord, static_cast<uint32_t>(type), nullptr, 0);
}

bool FileParser::checkFileOpError(FILE* stream) {
  return stream == nullptr || ferror(stream) != 0;
}

bool FileParser::putRecord(uint32_t type, uint32_t kind, const void* buffer, uint64_t length) {
  KaCriticalSectionLock lock(&fileLock);
  if (buffer == nullptr && length != 0) {
    OBJSTORE_LOG(-1, "ERROR: no buffer for a record of [%llu] bytes for the file [%s]",
                 static_cast<unsigned long long>(length), filePath.c_str());
    return false;
  }
  int64_t recordStart = 0;
  if (!openStream(&recordStart)) return false;
  unsigned char header[kRecordHeaderSize];
  PutLittleEndian(type, 4, header);
  PutLittleEndian(kind, 4, header + 4);
  PutLittleEndian(length, 8, header + 8);
  if (!writeBlock(header, sizeof(header)) || !writeBlock(buffer, length)) {
    cutBackAndClose(recordStart);
    return false;
  }
  fclose(stream);
  stream = nullptr;
  return true;
}

// Opens the file for appending and gives its current end, where the next record begins.
bool FileParser::openStream(int64_t* recordStart) {
  stream = fopen64(filePath.c_str(), "ab");
  if (stream == nullptr) return false;
  // Unbuffered, so that after a failed write nothing is left in a buffer to land behind the cut.
  setvbuf(stream, nullptr, _IONBF, 0);
  struct stat64 st;
  if (fstat64(fileno(stream), &st) != 0) {
    fclose(stream);
    stream = nullptr;
    return false;
  }
  *recordStart = st.st_size;
  return true;
}

bool FileParser::writeBlock(const void* block, size_t size) {
  if (size == 0) return true;
  if (fwrite(block, 1, size, stream) == size && !checkFileOpError(stream)) return true;
  int err = errno;
  OBJSTORE_LOG(-1, "ERROR: failed to write to the file [%s]. Error code [%d]", filePath.c_str(),
               err);
  return false;
}

// Cuts a partly written record off again and closes the file, so that it holds only whole
// records and the next call starts on a fresh stream.
void FileParser::cutBackAndClose(int64_t recordStart) {
  struct stat64 st;
  bool written =
      fstat64(fileno(stream), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > recordStart;
  if (written && ftruncate64(fileno(stream), recordStart) != 0) {
    int err = errno;
    OBJSTORE_LOG(-1, "ERROR: failed to cut the file [%s] back to [%lld] bytes. Error code [%d]",
                 filePath.c_str(), static_cast<long long>(recordStart), err);
  }
  fclose(stream);
  stream = nullptr;
}
