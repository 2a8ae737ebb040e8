#include "JobManifest.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "Crc32c.h"
#include "PipelineErrors.h"
#include "StoreFormat.h"
#include "StoreIo.h"

namespace OBJECTOPSAPI {

namespace {

const char* const kFirstLine = "objstore-pipeline-manifest 2";
const char* const kFormatOneLine = "objstore-pipeline-manifest 1";
const std::string kCrcName = "crc32c=";
const char kBroken[] = "broken";

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char next = text[++i];
    out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

std::string JoinNumbers(const std::list<uint64_t>& numbers) {
  std::string out;
  for (uint64_t number : numbers) {
    if (!out.empty()) out += ',';
    out += std::to_string(number);
  }
  return out;
}

bool ToSigned(const std::string& text, int64_t* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = value;
  return true;
}

bool ToUnsigned(const std::string& text, uint64_t* out) {
  if (text.empty() || text[0] == '-') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = value;
  return true;
}

bool ToNumbers(const std::string& text, std::list<uint64_t>* out) {
  out->clear();
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, ',')) {
    uint64_t value = 0;
    if (!ToUnsigned(part, &value)) return false;
    out->push_back(value);
  }
  return true;
}

std::string CrcLine(const std::string& text) {
  char hex[16];
  std::snprintf(hex, sizeof(hex), "%08x", Crc32c(text.data(), text.size()));
  return kCrcName + hex + "\n";
}

// "<aFileId>:<committed>[:broken]" joined by commas.
std::string JoinStreamEnds(const std::vector<StoreStreamEnd>& ends) {
  std::string out;
  for (const StoreStreamEnd& end : ends) {
    if (!out.empty()) out += ',';
    out += std::to_string(end.aFileId) + ":" + std::to_string(end.committed);
    if (end.broken) out += std::string(":") + kBroken;
  }
  return out;
}

bool ToStreamEnds(const std::string& text, std::vector<StoreStreamEnd>* out) {
  out->clear();
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, ',')) {
    std::stringstream fields(part);
    std::string id, committed, flag;
    uint64_t aFileId = 0;
    StoreStreamEnd end;
    if (!std::getline(fields, id, ':') || !std::getline(fields, committed, ':') ||
        !ToUnsigned(id, &aFileId) || aFileId == 0 || aFileId > UINT32_MAX ||
        !ToUnsigned(committed, &end.committed)) {
      return false;
    }
    end.aFileId = static_cast<uint32_t>(aFileId);
    if (std::getline(fields, flag, ':')) {
      if (flag != kBroken || std::getline(fields, flag, ':')) return false;
      end.broken = true;
    }
    out->push_back(end);
  }
  return true;
}

// Splits off and checks the last line, the checksum of the text before it.
CUxError CheckCrcLine(const std::string& text, std::string* body) {
  const size_t start = text.rfind('\n', text.size() >= 2 ? text.size() - 2 : 0);
  const size_t lineStart = start == std::string::npos ? 0 : start + 1;
  *body = text.substr(0, lineStart);
  if (text.compare(lineStart, kCrcName.size(), kCrcName) != 0) {
    return UX_ERROR(kPipelineBadStore, "job manifest without its checksum line (cut short?)");
  }
  if (text.substr(lineStart) != CrcLine(*body)) {
    return UX_ERROR(kPipelineBadStore, "job manifest fails its checksum");
  }
  return CUxError();
}

typedef std::map<std::string, std::string> Fields;

// Each Take* leaves the field alone when the name is absent and fails on a malformed value.
bool TakeSigned(const Fields& fields, const char* name, int64_t* out) {
  auto found = fields.find(name);
  return found == fields.end() || ToSigned(found->second, out);
}

bool TakeInt32(const Fields& fields, const char* name, int32_t* out) {
  int64_t wide = *out;
  if (!TakeSigned(fields, name, &wide) || wide < INT32_MIN || wide > INT32_MAX) return false;
  *out = static_cast<int32_t>(wide);
  return true;
}

bool TakeUnsigned(const Fields& fields, const char* name, uint64_t* out) {
  auto found = fields.find(name);
  return found == fields.end() || ToUnsigned(found->second, out);
}

bool TakeUint32(const Fields& fields, const char* name, uint32_t* out) {
  uint64_t wide = *out;
  if (!TakeUnsigned(fields, name, &wide) || wide > UINT32_MAX) return false;
  *out = static_cast<uint32_t>(wide);
  return true;
}

bool TakeFlag(const Fields& fields, const char* name, bool* out) {
  uint64_t value = *out ? 1 : 0;
  if (!TakeUnsigned(fields, name, &value) || value > 1) return false;
  *out = value == 1;
  return true;
}

void TakeText(const Fields& fields, const char* name, std::string* out) {
  auto found = fields.find(name);
  if (found != fields.end()) *out = found->second;
}

}  // namespace

std::string JobManifest::serialize() const {
  std::ostringstream out;
  out << kFirstLine << "\n"
      << "runId=" << Escape(runId) << "\n"
      << "jobId=" << jobId << "\n"
      << "appId=" << appId << "\n"
      << "numStreams=" << numStreams << "\n"
      << "commitCallbackEnabled=" << (commitCallbackEnabled ? 1 : 0) << "\n"
      << "startTime=" << startTime << "\n"
      << "pid=" << pid << "\n"
      << "hasExtraConfig=" << (hasExtraConfig ? 1 : 0) << "\n"
      << "configText1=" << Escape(configText1) << "\n"
      << "configText2=" << Escape(configText2) << "\n"
      << "configText3=" << Escape(configText3) << "\n"
      << "configNumbers=" << JoinNumbers(configNumbers) << "\n"
      << "extraSetting=" << extraSetting << "\n"
      << "archiveFlags=" << archiveFlags << "\n";
  if (ended)
    out << "endStatus=" << endStatus << "\n"
        << "endTime=" << endTime << "\n"
        << "streams=" << JoinStreamEnds(streamEnds) << "\n";
  const std::string body = out.str();
  return body + CrcLine(body);
}

CUxError JobManifest::parse(const std::string& text) {
  std::string body;
  std::stringstream stream(text);
  std::string line;
  if (!std::getline(stream, line) || line != kFirstLine) {
    if (line == kFormatOneLine) {
      return UX_ERROR(kPipelineBadStore,
                      "written in store format 1, whose records carry no checksums; this "
                      "reader reads format %u only",
                      kStoreFormatVersion);
    }
    return UX_ERROR(kPipelineBadStore, "not a pipeline job manifest (first line [%.80s])",
                    line.c_str());
  }
  CUxError error = CheckCrcLine(text, &body);
  if (error.IsError()) return error;
  stream.str(body);
  stream.clear();
  std::getline(stream, line);
  Fields fields;
  while (std::getline(stream, line)) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    fields[line.substr(0, equals)] = Unescape(line.substr(equals + 1));
  }
  *this = JobManifest();
  TakeText(fields, "runId", &runId);
  TakeText(fields, "configText1", &configText1);
  TakeText(fields, "configText2", &configText2);
  TakeText(fields, "configText3", &configText3);
  ended = fields.count("endStatus") != 0;
  bool valid = TakeSigned(fields, "jobId", &jobId) && TakeInt32(fields, "appId", &appId) &&
               TakeUint32(fields, "numStreams", &numStreams) &&
               TakeFlag(fields, "commitCallbackEnabled", &commitCallbackEnabled) &&
               TakeSigned(fields, "startTime", &startTime) && TakeSigned(fields, "pid", &pid) &&
               TakeFlag(fields, "hasExtraConfig", &hasExtraConfig) &&
               TakeUnsigned(fields, "extraSetting", &extraSetting) &&
               TakeUnsigned(fields, "archiveFlags", &archiveFlags) &&
               TakeInt32(fields, "endStatus", &endStatus) &&
               TakeSigned(fields, "endTime", &endTime) &&
               ToNumbers(fields["configNumbers"], &configNumbers) &&
               ToStreamEnds(fields["streams"], &streamEnds);
  if (!valid) return UX_ERROR(kPipelineBadStore, "malformed value in job manifest");
  return CUxError();
}

CUxError JobManifest::writeTo(const std::string& runDir) const {
  return StoreIo::ReplaceFileDurably(runDir + "/" + kStoreManifestName, serialize());
}

CUxError JobManifest::readFrom(const std::string& runDir) {
  std::string path = runDir + "/" + kStoreManifestName;
  std::string text;
  CUxError error = StoreIo::ReadWholeFile(path, &text, kStoreManifestMaxBytes);
  if (error.IsError()) return error;
  error = parse(text);
  if (error.IsError()) {
    return UX_ERROR(kPipelineBadStore, "[%s]: %s", path.c_str(), error.GetMessage().c_str());
  }
  return CUxError();
}

}  // namespace OBJECTOPSAPI
