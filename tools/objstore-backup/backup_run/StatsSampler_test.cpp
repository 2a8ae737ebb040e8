#include "StatsSampler.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"

namespace objstore_host {
namespace {

ObjectStore::ProcessStatistics OneJob() {
  ObjectStore::ProcessStatistics statistics;
  ObjectStore::ControllerStatistics job;
  job.jobId = 9;
  ObjectStore::StreamStatistics stream;
  stream.aFileId = 3;
  stream.itemsRecorded = 2;
  stream.uncommitted = 2;
  job.streams.push_back(stream);
  job.total = stream;
  statistics.controllers.push_back(job);
  return statistics;
}

// The file's name chooses its format; the last content is the final snapshot, written whole
// through a temporary file that does not stay behind; the progress counters get its figures.
TEST(StatsSamplerTest, LastWriteIsTheFinalSnapshotInTheFormatTheNameAsks) {
  objstore_testing::TempDir dir;
  for (const char* name : {"stats.prom", "stats.json", "stats"}) {
    SCOPED_TRACE(name);
    ProgressCounters progress;
    StatsSampler sampler(dir.sub(name), std::chrono::milliseconds(1), &progress);
    sampler.start();
    std::string error;
    EXPECT_TRUE(sampler.stop(OneJob(), &error)) << error;
    const std::string text = objstore_testing::ReadFile(dir.sub(name));
    const bool prometheus = std::string(name) == "stats.prom";
    EXPECT_EQ(prometheus, text.rfind("# HELP ", 0) == 0) << text.substr(0, 40);
    EXPECT_EQ(!prometheus, text.rfind("{\"taken_at\":", 0) == 0) << text.substr(0, 40);
    EXPECT_EQ(2u, progress.uncommitted.load());
  }
  size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    static_cast<void>(entry);
    ++entries;
  }
  EXPECT_EQ(3u, entries);  // no temporary file left
}

TEST(StatsSamplerTest, FailedWriteIsReported) {
  objstore_testing::TempDir dir;
  StatsSampler sampler(dir.sub("missing/stats.json"), std::chrono::milliseconds(1000), nullptr);
  std::string error;
  EXPECT_FALSE(sampler.stop(OneJob(), &error));
  EXPECT_NE(std::string::npos, error.find("missing/stats.json.tmp")) << error;
}

}  // namespace
}  // namespace objstore_host
