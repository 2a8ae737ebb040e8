// PutRecord: one PUT as a load client saw it, and its line in the request log.
//
// A line holds tab-separated fields in a fixed order (see FormatPutRecord); text fields never
// hold tabs or line feeds (the writer replaces them with spaces). A PUT whose answer never came
// has code 0: it may or may not be stored.
#ifndef OBJSTORE_LOAD_PUTRECORD_H_
#define OBJSTORE_LOAD_PUTRECORD_H_

#include <cstdint>
#include <map>
#include <string>

namespace objstore_load {

struct PutRecord {
  int client = 0;
  std::string key;
  uint64_t gen = 0;   // the client's generation of the key (ObjectContent.h)
  uint64_t size = 0;  // bytes sent
  bool waitCommitted = false;
  int code = 0;            // the HTTP status; 0: no answer (a connection error)
  int64_t sendMicros = 0;  // wall clock, microseconds since the epoch
  int64_t answerMicros = 0;
  uint64_t version = 0;  // from the answer, when it had one
  std::string id;
  int64_t job = -1;  // from a committed answer
  int64_t stream = -1;
  // The committed counts of every stream of the answer's job, read from the store right after
  // the answer (CommitSampler.h). Empty when not sampled.
  std::map<std::string, uint64_t> committedAtAnswer;
  int64_t sampleMicros = 0;  // when that read ended
  std::string error;         // why there was no answer, or the answer's error text

  // Whether the server took the object durably: 201, or 200 with ?wait=committed.
  bool acknowledged() const { return code == 201 || code == 200; }
  // Whether it may be stored though it was not acknowledged.
  bool unknown() const { return !acknowledged() && (code == 0 || code >= 500); }
  int64_t latencyMicros() const { return answerMicros - sendMicros; }
};

// The record's log line, without its line feed.
std::string FormatPutRecord(const PutRecord& record);

// Reads a line written by FormatPutRecord; false for any other text.
bool ParsePutRecord(const std::string& line, PutRecord* record);

}  // namespace objstore_load

#endif  // OBJSTORE_LOAD_PUTRECORD_H_
