// The statistics tests' reading of StatisticsToPrometheus's text. It fails the calling test,
// without stopping it, on a line that is neither "# HELP", "# TYPE" nor name{labels} value; a
// family announced twice or after its sample; a counter not named ..._total; a sample whose
// first label is not app_id, or that names a stream (afile_id) or, but for job_info, a job
// (job_id); a series twice; a histogram bucket below the one before it in its series.
#ifndef OBJSTORE_BACKUP_PROMETHEUSTESTPARSER_H_
#define OBJSTORE_BACKUP_PROMETHEUSTESTPARSER_H_

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace objstore_testing {

struct PrometheusSample {
  std::string name;    // as written, e.g. objstore_backup_commit_latency_seconds_bucket
  std::string family;  // its TYPE's name: a histogram's for its _bucket, _sum and _count
  std::map<std::string, std::string> labels;
  double value = 0;
};

struct PrometheusText {
  std::map<std::string, std::string> types;  // family -> counter, gauge or histogram
  std::vector<PrometheusSample> samples;     // in the order written
  std::map<std::string, double> values;      // by the sample as written: name{labels}
};

inline PrometheusText ParsePrometheus(const std::string& text) {
  static const std::regex kComment(R"(^# (HELP|TYPE) ([a-z_]+) (.+)$)");
  static const std::regex kSample(
      R"(^(([a-z_]+?)(_bucket|_sum|_count)?)\{(app_id="[^"]*"(?:,[a-z_]+="[^"]*")*)\} (\S+)$)");
  static const std::regex kLabel(R"(([a-z_]+)="([^"]*)\")"), kLe(R"(,le="[^"]*")");
  PrometheusText parsed;
  std::map<std::string, double> lastBucket;  // by series, without its le label
  std::istringstream lines(text);
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_match(line, m, kComment)) {
      if (m[1] != "TYPE") continue;
      EXPECT_TRUE(parsed.types.emplace(m[2], m[3]).second) << "announced twice: " << line;
      EXPECT_TRUE(m[3] != "counter" || m[2].str().find("_total") != std::string::npos) << line;
    } else if (!std::regex_match(line, m, kSample)) {
      ADD_FAILURE() << "not a sample, nor one naming its application first: " << line;
    } else {
      const auto base = parsed.types.find(m[2]);
      const bool histogram = base != parsed.types.end() && base->second == "histogram";
      PrometheusSample sample{m[1], histogram ? m[2] : m[1], {}, 0};
      EXPECT_EQ(1u, parsed.types.count(sample.family)) << "sample before its family: " << line;
      const std::string labels = m[4];
      for (std::sregex_iterator it(labels.begin(), labels.end(), kLabel), end; it != end; ++it) {
        sample.labels[(*it)[1]] = (*it)[2];
      }
      EXPECT_EQ(0u, sample.labels.count("afile_id")) << line;
      EXPECT_TRUE(sample.name == "objstore_backup_job_info" || !sample.labels.count("job_id"))
          << line;
      sample.value = std::stod(m[5]);
      EXPECT_TRUE(parsed.values.emplace(sample.name + "{" + labels + "}", sample.value).second)
          << "series twice: " << line;
      if (m[3] == "_bucket" && sample.family != sample.name) {
        const std::string series = sample.name + std::regex_replace(labels, kLe, "");
        if (lastBucket.count(series) != 0) {
          EXPECT_GE(sample.value, lastBucket[series]) << line;
        }
        lastBucket[series] = sample.value;
      }
      parsed.samples.push_back(sample);
    }
  }
  return parsed;
}

}  // namespace objstore_testing

#endif  // OBJSTORE_BACKUP_PROMETHEUSTESTPARSER_H_
