#include "PutRecord.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace objstore_load {

namespace {

constexpr size_t kFieldCount = 15;

std::string Clean(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

std::string FormatSamples(const std::map<std::string, uint64_t>& samples) {
  if (samples.empty()) return "-";
  std::string out;
  for (const auto& [run, count] : samples) {
    if (!out.empty()) out += ',';
    out += Clean(run) + ':' + std::to_string(count);
  }
  return out;
}

bool ParseSigned(const std::string& text, int64_t* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = value;
  return true;
}

bool ParseUnsigned(const std::string& text, uint64_t* out) {
  int64_t value = 0;
  if (!ParseSigned(text, &value) || value < 0) return false;
  *out = static_cast<uint64_t>(value);
  return true;
}

bool ParseSamples(const std::string& text, std::map<std::string, uint64_t>* samples) {
  samples->clear();
  if (text == "-") return true;
  std::stringstream parts(text);
  std::string part;
  while (std::getline(parts, part, ',')) {
    const size_t colon = part.rfind(':');
    uint64_t count = 0;
    if (colon == std::string::npos || colon == 0 || !ParseUnsigned(part.substr(colon + 1), &count))
      return false;
    (*samples)[part.substr(0, colon)] = count;
  }
  return !samples->empty();
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

std::string FormatPutRecord(const PutRecord& r) {
  std::ostringstream out;
  out << r.client << '\t' << Clean(r.key) << '\t' << r.gen << '\t' << r.size << '\t'
      << (r.waitCommitted ? 1 : 0) << '\t' << r.code << '\t' << r.sendMicros << '\t'
      << r.answerMicros << '\t' << r.version << '\t' << (r.id.empty() ? "-" : Clean(r.id)) << '\t'
      << r.job << '\t' << r.stream << '\t' << FormatSamples(r.committedAtAnswer) << '\t'
      << r.sampleMicros << '\t' << (r.error.empty() ? "-" : Clean(r.error));
  return out.str();
}

bool ParsePutRecord(const std::string& line, PutRecord* r) {
  const std::vector<std::string> f = SplitTabs(line);
  if (f.size() != kFieldCount || f[1].empty()) return false;
  int64_t client = 0, wait = 0, code = 0;
  PutRecord out;
  if (!ParseSigned(f[0], &client) || !ParseUnsigned(f[2], &out.gen) ||
      !ParseUnsigned(f[3], &out.size) || !ParseSigned(f[4], &wait) || (wait != 0 && wait != 1) ||
      !ParseSigned(f[5], &code) || code < 0 || code > 999 || !ParseSigned(f[6], &out.sendMicros) ||
      !ParseSigned(f[7], &out.answerMicros) || !ParseUnsigned(f[8], &out.version) ||
      !ParseSigned(f[10], &out.job) || !ParseSigned(f[11], &out.stream) ||
      !ParseSamples(f[12], &out.committedAtAnswer) || !ParseSigned(f[13], &out.sampleMicros))
    return false;
  out.client = static_cast<int>(client);
  out.key = f[1];
  out.waitCommitted = wait == 1;
  out.code = static_cast<int>(code);
  out.id = f[9] == "-" ? "" : f[9];
  out.error = f[14] == "-" ? "" : f[14];
  *r = std::move(out);
  return true;
}

}  // namespace objstore_load
