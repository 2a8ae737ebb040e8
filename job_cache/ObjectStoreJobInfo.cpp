#include "ObjectStoreJobInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// A JOB_INFO is seven short lines; anything larger is not one.
const size_t kJobInfoReadLimit = 64 << 10;

// Stores the next token in `field` only when it reads as a T, so that the fields from the first
// unreadable token on keep the values they had.
template <typename T>
bool ReadField(std::istream& in, T& field) {
  T value;
  if (!(in >> value)) return false;
  field = value;
  return true;
}

// Files written by hand or by other tools as whitespace-separated fields: each text is one
// token. False when the file ends early or a number does not read.
bool ReadJobInfoTokens(const std::string& text, OBJECTOPSAPI::JobInfo& info) {
  std::istringstream in(text);
  return ReadField(in, info.jobId) && ReadField(in, info.text1) && ReadField(in, info.numStreams) &&
         ReadField(in, info.attr1) && ReadField(in, info.attr7) && ReadField(in, info.attr3) &&
         ReadField(in, info.appId) && ReadField(in, info.attr6) && ReadField(in, info.attr5) &&
         ReadField(in, info.text3) && ReadField(in, info.text2) && ReadField(in, info.attr4) &&
         ReadField(in, info.text4);
}

// The whole of `text` as a T, in the form std::to_string writes.
template <typename T>
bool ParseNumber(std::string_view text, T& out) {
  const char* end = text.data() + text.size();
  std::from_chars_result result = std::from_chars(text.data(), end, out);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

// A line of three numbers, one tab between them.
template <typename First>
bool ParseNumbers(std::string_view line, First& first, int32_t& second, int32_t& third) {
  std::vector<std::string_view> fields = Split(line, '\t');
  return fields.size() == 3 && ParseNumber(fields[0], first) && ParseNumber(fields[1], second) &&
         ParseNumber(fields[2], third);
}

// The file as FormatJobInfo writes it, line by line and tab by tab, so that empty texts and
// texts with blanks come back as written. A text may hold tabs where it is a line's only text
// after or before its number (lines 5 and 6), not line feeds. False, with `info` untouched,
// when the file has another shape.
bool ReadJobInfoLines(const std::string& text, OBJECTOPSAPI::JobInfo& info) {
  std::vector<std::string_view> lines = Split(text, '\n');
  if (lines.size() != 8 || !lines[7].empty()) return false;  // seven lines, each ended
  OBJECTOPSAPI::JobInfo read = info;
  const size_t afterNumber = lines[4].find('\t');
  const size_t beforeNumber = lines[5].rfind('\t');
  if (!ParseNumber(lines[0], read.jobId) ||
      !ParseNumbers(lines[2], read.numStreams, read.attr1, read.attr7) ||
      !ParseNumbers(lines[3], read.attr3, read.appId, read.attr6) ||
      afterNumber == std::string_view::npos || beforeNumber == std::string_view::npos ||
      !ParseNumber(lines[4].substr(0, afterNumber), read.attr5) ||
      !ParseNumber(lines[5].substr(beforeNumber + 1), read.attr4)) {
    return false;
  }
  read.text1 = std::string(lines[1]);
  read.text3 = std::string(lines[4].substr(afterNumber + 1));
  read.text2 = std::string(lines[5].substr(0, beforeNumber));
  read.text4 = std::string(lines[6]);
  info = read;
  return true;
}

// Reads the regular file `file` whole into `text`. A link, a directory, a FIFO or a device is
// refused without being read (and without blocking), and so is a file over `limit` bytes.
// False with `problem` set otherwise.
bool ReadSmallRegularFile(const std::string& file, size_t limit, std::string* text,
                          std::string* problem) {
  const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *problem = "cannot be opened: " + std::string(strerror(errno));
    return false;
  }
  struct stat status;
  bool ok = fstat(fd, &status) == 0;
  if (!ok) {
    *problem = "cannot be examined: " + std::string(strerror(errno));
  } else if (!S_ISREG(status.st_mode)) {
    *problem = "is not a regular file";
    ok = false;
  } else if (static_cast<uint64_t>(status.st_size) > limit) {
    *problem = "holds " + std::to_string(status.st_size) + " bytes, more than a job file can";
    ok = false;
  }
  // Bounded by the size seen and the limit both: a file that grows meanwhile is cut there.
  if (ok) text->resize(static_cast<size_t>(status.st_size));
  size_t done = 0;
  while (ok && done < text->size()) {
    const ssize_t got = read(fd, &(*text)[done], text->size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *problem = "cannot be read: " + std::string(strerror(errno));
      ok = false;
    }
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  if (ok) text->resize(done);
  close(fd);
  return ok;
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
  std::string problem;
  return loadInfoFromDisk(std::move(dir), &problem);
}

bool ObjStoreJobInfo::loadInfoFromDisk(std::string dir, std::string* problem) {
  const std::string file = dir + "/" + kJobInfoName;
  problem->clear();
  if (access(file.c_str(), F_OK) != 0) {
    OBJSTORE_LOG(-1, "File [%s] is not present.", file.c_str());
    *problem = file + " is not present";
    return false;
  }
  std::string text;
  std::string why;
  if (!ReadSmallRegularFile(file, kJobInfoReadLimit, &text, &why)) {
    OBJSTORE_LOG(-1, "ERROR: File [%s] %s.", file.c_str(), why.c_str());
    *problem = file + " " + why;
    return false;
  }
  basePath = dir;
  if (!ReadJobInfoLines(text, *this) && !ReadJobInfoTokens(text, *this)) {
    // Still a load: what was read is kept, the rest keeps its previous values.
    OBJSTORE_LOG(1,
                 "WARN: File [%s] is short or malformed; the fields after the last readable "
                 "one keep their values.",
                 file.c_str());
    *problem = file + " is short or malformed";
  }
  // A loaded record carries neither the job id nor the first text, whatever the file says.
  jobId = 0;
  text1.clear();
  return true;
}

}  // namespace ObjectStore
