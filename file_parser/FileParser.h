// FileParser: appends typed records (stream header, metadata, data, file type) to one file.
//
// Record: type (u32), kind (u32), payload length (u64), payload; little-endian, no gaps. Each
// call writes one whole record and closes the file again; after every call, failed or not, the
// file holds only whole records. Calls on one writer from several threads are serialised.
//
// Kept for hosts; the library does not call it: items go to the pipeline, not into record files.
#ifndef OBJSTORE_FILE_PARSER_FILEPARSER_H_
#define OBJSTORE_FILE_PARSER_FILEPARSER_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "KaCriticalSection.h"
#include "ObjStoreExport.h"

enum FileType : int32_t {
  FILE_TYPE_UNKNOWN = 0,
  FILE_TYPE_REGULAR = 1,
  FILE_TYPE_DIRECTORY = 2,
  FILE_TYPE_SYMLINK = 3,
};
typedef FileType FileType_t;

class OBJSTORE_API FileParser {
 public:
  explicit FileParser(std::string filePath);
  ~FileParser();
  FileParser(const FileParser&) = delete;
  FileParser& operator=(const FileParser&) = delete;

  // Each returns false when the file could not be opened (nothing written, no log), when a
  // payload length is given without a buffer (nothing written, level -1 record), or when a write
  // failed (the partial record is cut off again, the file closed, level -1 record; the next
  // call opens the file afresh). Thread-safe; the buffer is only read.
  bool putCXHeader(const void* buffer, uint64_t length);
  bool putMetaData(const void* buffer, uint64_t length, int32_t kind);
  bool putData(const void* buffer, uint64_t length, int32_t kind);
  bool putFileType(FileType type);

  // True when the stream's error indicator is set; a null stream counts as failed.
  static bool checkFileOpError(FILE* stream);

 private:
  bool putRecord(uint32_t type, uint32_t kind, const void* buffer, uint64_t length);
  bool openStream(int64_t* recordStart);
  bool writeBlock(const void* block, size_t size);
  void cutBackAndClose(int64_t recordStart);

  std::string filePath;
  FILE* stream;
  KaCriticalSection fileLock;
};

#endif  // OBJSTORE_FILE_PARSER_FILEPARSER_H_
