#include "FileCompare.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace objstore_host {

namespace {

const size_t kChunk = 1 << 20;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
typedef std::unique_ptr<std::FILE, FileCloser> FilePtr;

FilePtr Open(const std::string& path, std::string* difference) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) *difference = "cannot open [" + path + "]: " + std::strerror(errno);
  return file;
}

// Reads up to `length` bytes; fewer only at the end of the file.
size_t ReadUpTo(std::FILE* file, char* buffer, size_t length) {
  return std::fread(buffer, 1, length, file);
}

}  // namespace

bool FileMatchesCopy(const std::string& path, const StoredCopy& copy, std::string* difference) {
  FilePtr file = Open(path, difference);
  if (!file) return false;
  std::vector<char> buffer;
  uint64_t offset = 0;
  for (const OBJECTOPSAPI::StoreSection& section : copy.item->sections) {
    if (section.type != OBJECTOPSAPI::kStoreRecordData) continue;
    buffer.resize(section.bytes.size());
    const size_t got = ReadUpTo(file.get(), buffer.data(), buffer.size());
    if (got != buffer.size() || std::memcmp(buffer.data(), section.bytes.data(), got) != 0) {
      *difference = "content differs in the " + std::to_string(section.bytes.size()) +
                    " bytes from offset " + std::to_string(offset);
      return false;
    }
    offset += got;
  }
  char extra;
  if (ReadUpTo(file.get(), &extra, 1) != 0) {
    *difference = "the file is longer than the stored " + std::to_string(offset) + " bytes";
    return false;
  }
  return true;
}

bool FilesEqual(const std::string& a, const std::string& b, std::string* difference) {
  FilePtr fileA = Open(a, difference);
  FilePtr fileB = fileA ? Open(b, difference) : FilePtr();
  if (!fileA || !fileB) return false;
  std::vector<char> bufferA(kChunk);
  std::vector<char> bufferB(kChunk);
  uint64_t offset = 0;
  for (;;) {
    const size_t gotA = ReadUpTo(fileA.get(), bufferA.data(), kChunk);
    const size_t gotB = ReadUpTo(fileB.get(), bufferB.data(), kChunk);
    if (gotA != gotB || std::memcmp(bufferA.data(), bufferB.data(), gotA) != 0) {
      *difference = "content differs in the chunk at offset " + std::to_string(offset);
      return false;
    }
    if (gotA < kChunk) return true;
    offset += gotA;
  }
}

}  // namespace objstore_host
