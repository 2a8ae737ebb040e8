#include "ObjectStoreJobInfo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>

#include "LogWriter.h"
#include "ObjectStoreStatic.h"

namespace ObjectStore {

namespace {

const char kJobInfoName[] = "JOB_INFO";
// The process writes the file right away and may read it back; others may only read it.
const mode_t kJobInfoMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;

// The seven lines of JOB_INFO: one tab between fields, a line feed after each line.
std::string FormatJobInfo(const OBJECTOPSAPI::JobInfo& info) {
  std::string text;
  text += std::to_string(info.jobId) + "\n";
  text += info.text1 + "\n";
  text += std::to_string(info.numStreams) + "\t" + std::to_string(info.attr1) + "\t" +
          std::to_string(info.attr7) + "\n";
  text += std::to_string(info.attr3) + "\t" + std::to_string(info.appId) + "\t" +
          std::to_string(info.attr6) + "\n";
  text += std::to_string(info.attr5) + "\t" + info.text3 + "\n";
  text += info.text2 + "\t" + std::to_string(info.attr4) + "\n";
  text += info.text4 + "\n";
  return text;
}

// Stores the next token in `field` only when it reads as a T, so that the fields from the first
// unreadable token on keep the values they had.
template <typename T>
bool ReadField(std::istream& in, T& field) {
  T value;
  if (!(in >> value)) return false;
  field = value;
  return true;
}

// The fields in the order FormatJobInfo writes them. False when the file ends early or a number
// does not read.
bool ReadJobInfo(std::istream& in, OBJECTOPSAPI::JobInfo& info) {
  return ReadField(in, info.jobId) && ReadField(in, info.text1) && ReadField(in, info.numStreams) &&
         ReadField(in, info.attr1) && ReadField(in, info.attr7) && ReadField(in, info.attr3) &&
         ReadField(in, info.appId) && ReadField(in, info.attr6) && ReadField(in, info.attr5) &&
         ReadField(in, info.text3) && ReadField(in, info.text2) && ReadField(in, info.attr4) &&
         ReadField(in, info.text4);
}

// Replaces the content of `file` by `text`. False, with a record naming the file, when it cannot
// be opened, written or closed.
bool WriteWholeFile(const std::string& file, const std::string& text) {
  FILE* out = fopen64(file.c_str(), "w");
  if (out == nullptr) {
    const int openErrno = errno;
    OBJSTORE_LOG(-1, "ERROR: Can't open file [%s] for writing. [%s]", file.c_str(),
                 strerror(openErrno));
    return false;
  }
  const bool written = fwrite(text.data(), 1, text.size(), out) == text.size() && !ferror(out);
  const int writeErrno = errno;
  // fclose flushes what is still buffered: a full disk may only show here.
  const bool closed = fclose(out) == 0;
  const int closeErrno = errno;
  if (!written) {
    OBJSTORE_LOG(-1, "ERROR: Can't write file [%s]. [%s]", file.c_str(), strerror(writeErrno));
  } else if (!closed) {
    OBJSTORE_LOG(-1, "ERROR: Can't close file [%s]. [%s]", file.c_str(), strerror(closeErrno));
  }
  return written && closed;
}

void LogSaveFailed(const std::string& file) {
  OBJSTORE_LOG(-1, "save JOB INFO to [%s] file failed", file.c_str());
}

}  // namespace

ObjStoreJobInfo::ObjStoreJobInfo(OBJECTOPSAPI::JobInfo info)
    : OBJECTOPSAPI::JobInfo(info), loadFailed(false) {}

ObjStoreJobInfo::ObjStoreJobInfo(std::string dir) : loadFailed(false) {
  loadFailed = !loadInfoFromDisk(std::move(dir));
}

ObjStoreJobInfo::~ObjStoreJobInfo() {}

std::string ObjStoreJobInfo::getBasePath() {
  return basePath;
}

bool ObjStoreJobInfo::init() {
  basePath = ObjectStoreStatic::rootDir + "/" + std::to_string(jobId);
  if (!ObjectStoreStatic::CreateDir(basePath, true)) {
    OBJSTORE_LOG(-1, "Directory [%s] create failed", basePath.c_str());
    return false;
  }
  return saveInfoOnDisk();
}

bool ObjStoreJobInfo::saveInfoOnDisk() {
  // Without a job directory the file would land in the file system's root.
  if (basePath.empty()) {
    OBJSTORE_LOG(-1, "ERROR: No job directory set. [%s] not saved.", kJobInfoName);
    return false;
  }
  const std::string file = basePath + "/" + kJobInfoName;
  if (!ObjectStoreStatic::CreateFile(file, kJobInfoMode)) {
    OBJSTORE_LOG(-1, "File [%s] creation failed", file.c_str());
    LogSaveFailed(file);
    return false;
  }
  if (!WriteWholeFile(file, FormatJobInfo(*this))) {
    LogSaveFailed(file);
    return false;
  }
  return true;
}

bool ObjStoreJobInfo::loadInfoFromDisk(std::string dir) {
  const std::string file = dir + "/" + kJobInfoName;
  if (access(file.c_str(), F_OK) != 0) {
    OBJSTORE_LOG(-1, "File [%s] is not present.", file.c_str());
    return false;
  }
  basePath = dir;
  std::ifstream in(file.c_str());
  if (!in.is_open()) {
    const int openErrno = errno;
    OBJSTORE_LOG(-1, "ERROR: Can't open file [%s] for reading. [%s]", file.c_str(),
                 strerror(openErrno));
    return false;
  }
  if (!ReadJobInfo(in, *this)) {
    // Still a load: what was read is kept, the rest keeps its previous values.
    OBJSTORE_LOG(1,
                 "WARN: File [%s] is short or malformed; the fields after the last readable "
                 "one keep their values.",
                 file.c_str());
  }
  // A loaded record carries neither the job id nor the first text, whatever the file says.
  jobId = 0;
  text1.clear();
  return true;
}

}  // namespace ObjectStore
